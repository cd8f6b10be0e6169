#include "bench/windows/installation_runs.h"

#include "bench/module_checks.h"
#include "bench/tracking_modes.h"
#include "bench/windows/module_in_mode.h"
#include "bench/windows/timing_loop.h"
#include "tests/wine/support/orvale_registry.h"

#include <dbghelp.h>

#include <cstdlib>
#include <cstring>

namespace vracoins_bench {

namespace {

std::string InstallationName(int mode) {
    return std::string("installation/") + kModeNames[mode];
}

std::string LoadAloneName(int mode) {
    return std::string("load-alone/") + kModeNames[mode];
}

const char kSymbolResolverName[] = "symbol-resolver";

// What the tracker's symbol resolver does when a tracking module's collector is made and destroyed, with
// its options: dbghelp set up for the whole process (SymInitialize, invading it), then cleaned up.
bool SetUpAndEndSymbolResolver() {
    SymSetOptions(SymGetOptions() | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES |
                  SYMOPT_DEBUG);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
    if (process == nullptr) {
        return false;
    }
    const bool initialised = SymInitialize(process, nullptr, TRUE) != FALSE;
    if (initialised) {
        SymCleanup(process);
    }
    CloseHandle(process);
    return initialised;
}

} // namespace

InstallationRuns::InstallationRuns(winetest::DebugOutputCapture& capture)
    : capture(capture), modulePath(BesideProgram(kTestBuildDll)) {}

bool InstallationRuns::Prepare(std::string* problem) {
    winetest::ForgetCoInstallerState();
    installation = std::make_unique<winetest::SampleInstallation>(modulePath);
    if (!installation->IsReady()) {
        *problem = std::string("the sample installation could not be set up: ") + installation->FailedStep() +
                   ": " + installation->Failure();
        return false;
    }
    // The device's first installation does more than those that follow; it is not timed.
    double untimed = 0;
    return Install(0, &untimed, problem);
}

bool InstallationRuns::Install(int mode, double* nanoseconds, std::string* problem) {
    if (!SetTrackingSwitch(mode, problem)) {
        return false;
    }
    winetest::ForgetCoInstallerState();
    installation->LeaveComponentsState();
    capture.Clear();
    std::string failure;
    const bool ran = TimeOnce(
        [&]() {
            winetest::CoInstallerModule coinstaller(modulePath);
            if (!coinstaller.IsLoaded()) {
                failure = coinstaller.LoadFailure();
                return false;
            }
            const winetest::ServiceAnswer installed = installation->InstallThroughService();
            const DWORD postAnswer = installation->PostPass(coinstaller, installed);
            const int inForce = TrackModeInForce(coinstaller.Handle());
            if (!installed.succeeded || postAnswer != NO_ERROR) {
                failure = "the service answered " + installed.Text() + ", the post pass " +
                          std::to_string(postAnswer);
                return false;
            }
            return ModeInForceIsModeSet(inForce, mode, &failure);
        },
        nanoseconds);
    if (!ran) {
        *problem = failure;
        capture.Clear();
        return false;
    }
    if (installation->Queue().CurrentName() != winetest::sample::kQueueName) {
        *problem = "the spooler renamed the queue, so the installations that follow differ from this one";
        return false;
    }
    const std::string report = capture.Text();
    const char* total = "Total number of allocations tracked: ";
    const size_t count = report.find(total);
    if (count != std::string::npos) {
        allocationsPerInstallation = std::atol(report.c_str() + count + std::strlen(total));
    }
    return ReportAtUnloadIsClean(capture, mode, problem);
}

bool InstallationRuns::LoadAlone(int mode, double* nanoseconds, std::string* problem) {
    if (!SetTrackingSwitch(mode, problem)) {
        return false;
    }
    ModuleInMode module(capture);
    const bool loaded = TimeOnce(
        [&]() {
            const bool inMode = module.Load(modulePath, mode, problem);
            const bool unloaded = module.Unload(inMode ? problem : nullptr);
            return inMode && unloaded;
        },
        nanoseconds);
    return loaded;
}

void InstallationRuns::RunRound(Timings* timings, std::vector<std::string>* problems) {
    double resolver = 0;
    if (TimeOnce(SetUpAndEndSymbolResolver, &resolver)) {
        (*timings)[kSymbolResolverName] = resolver;
    } else {
        problems->push_back(std::string(kSymbolResolverName) + ": SymInitialize failed, error " +
                            std::to_string(GetLastError()));
    }
    for (int mode = 0; mode <= kHighestTrackingMode; ++mode) {
        double nanoseconds = 0;
        std::string problem;
        if (LoadAlone(mode, &nanoseconds, &problem)) {
            (*timings)[LoadAloneName(mode)] = nanoseconds;
        } else {
            problems->push_back(LoadAloneName(mode) + ": " + problem);
        }
        if (Install(mode, &nanoseconds, &problem)) {
            (*timings)[InstallationName(mode)] = nanoseconds;
        } else {
            problems->push_back(InstallationName(mode) + ": " + problem);
        }
    }
}

std::vector<Comparison> InstallationComparisons() {
    std::vector<Comparison> comparisons;
    for (int mode = 1; mode <= kHighestTrackingMode; ++mode) {
        comparisons.push_back({std::string("installation (load, both passes, unload), ") + kModeLabels[mode] +
                                   " / tracking off",
                               InstallationName(mode), InstallationName(0), 0});
    }
    for (int mode = 1; mode <= kHighestTrackingMode; ++mode) {
        comparisons.push_back(
            {std::string("module alone (load, one block, unload), ") + kModeLabels[mode] + " / tracking off",
             LoadAloneName(mode), LoadAloneName(0), 0});
    }
    comparisons.push_back(
        {"dbghelp set up for the process and cleaned up, as each tracking load does / module "
         "alone, tracking off",
         kSymbolResolverName, LoadAloneName(0), 0});
    return comparisons;
}

} // namespace vracoins_bench
