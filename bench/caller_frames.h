// Work run below a fixed number of frames of calls, so that the tracker's call stacks are taken from a
// stack as deep as an application's: the capture walks up to the depth asked plus the tracker's own
// frames, and stops early where the frames end (on the host, where the frame pointers end: the benchmark
// library around the workload is built without them). Both benchmark programs, host and Windows, run
// every tracked workload this way, with and without stacks alike.
#pragma once

#include <functional>

namespace vracoins_bench {

// More frames than the deepest stack kept (32) and the tracker's frames that the capture walks beside it.
constexpr unsigned kWorkloadCallerFrames = 56;

// Calls `work` from `frames` nested calls of this function, each with a frame of its own.
void RunBelowFrames(unsigned frames, const std::function<void()>& work);

} // namespace vracoins_bench
