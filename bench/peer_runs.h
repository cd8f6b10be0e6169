// The peer allocator's runs: the allocation workload in a process of its own (peer_allocator_bench), with
// the peer allocator preloaded or, as a control, with the plain run-time heap.
#pragma once

#include "bench/bench_results.h"

#include <string>
#include <vector>

namespace vracoins_bench {

struct PeerConfiguration {
    std::string name;                     // prefix of the results' names, for "<name>/size:<bytes>"
    std::vector<std::string> environment; // NAME=value, added to (or replacing in) this process's own
    std::string requiredSymbol;           // a symbol the preloaded library defines; empty: none preloaded
};

// Runs the peer program once with `benchmarkArguments` and adds its timings to `timings`. False, with
// the reason in `problem`, when it could not run, did not load the preloaded library or reported errors.
bool RunPeer(const PeerConfiguration& configuration, const std::vector<std::string>& benchmarkArguments,
             Timings* timings, std::string* problem);

} // namespace vracoins_bench
