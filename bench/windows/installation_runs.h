// The whole installation under Windows, tracked: the sample installation (tests/wine/support) set up once
// with the module's test build as the printer's co-installer, then, for each tracking mode and tracking
// off, timed from the module's load through both passes to its unload with the final report; and the
// module's load, first allocation and unload alone. And the comparisons made of those times.
#pragma once

#include "bench/ratio_table.h"
#include "bench/timings.h"
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/sample_installation.h"

#include <memory>
#include <string>
#include <vector>

namespace vracoins_bench {

class InstallationRuns {
  public:
    explicit InstallationRuns(winetest::DebugOutputCapture& capture);

    // False, with the step that failed in `problem`, when the installation could not be set up or its
    // first run, untimed, failed.
    bool Prepare(std::string* problem);
    // One installation with tracking off and one in each mode, each timed alone, as many loads of the
    // module alone, and the set-up and end of dbghelp for the process, which every tracking load makes. Adds
    // the times to `timings` and what went wrong to `problems`.
    void RunRound(Timings* timings, std::vector<std::string>* problems);
    // How many blocks the module allocated in one installation, as the tracker's report at unload counts
    // them (the last tracked installation's); -1 before one ran.
    long AllocationsPerInstallation() const { return allocationsPerInstallation; }

  private:
    // The module alone in `mode`: the switch set (untimed), then the module loaded, its first allocation
    // and release, the mode in force read, the module unloaded (timed): what tracking costs an
    // installation whatever it allocates.
    bool LoadAlone(int mode, double* nanoseconds, std::string* problem);
    // One installation in `mode`: the switch set and the state the passes consume left again (untimed),
    // then the module loaded, the service's pre pass and the installation, the post pass, the mode in
    // force read, the module unloaded (timed); both passes' answers and the final report checked.
    bool Install(int mode, double* nanoseconds, std::string* problem);

    winetest::DebugOutputCapture& capture;
    std::string modulePath;
    std::unique_ptr<winetest::SampleInstallation> installation;
    long allocationsPerInstallation = -1;
};

// Each mode's installation, and the module alone, against the same with tracking off.
std::vector<Comparison> InstallationComparisons();

} // namespace vracoins_bench
