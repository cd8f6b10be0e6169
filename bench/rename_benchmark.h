// The co-installer's post-processing pass when the composed queue name is taken: the pass renames the
// queue to the first free "<name> (Copy N)", enumerating the local printers afresh for every candidate.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

namespace vracoins_bench {

// Numbers of local printers that already bear the composed name or one of its copies.
constexpr size_t kExistingCopies[] = {1, 10, 100, 1000};

inline std::string RenameName(size_t existing) {
    return "rename/existing:" + std::to_string(existing);
}

// One iteration is one post pass of the shipped module, tracking off, on a machine where `existing`
// printers are named "Alpha 100 VRA PCL 6", "Alpha 100 VRA PCL 6 (Copy 1)", ... "(Copy existing-1)", so
// that the queue takes "(Copy existing)". The queue's old name is restored between iterations, untimed.
void RunRenameWorkload(benchmark::State& state, size_t existing);

} // namespace vracoins_bench
