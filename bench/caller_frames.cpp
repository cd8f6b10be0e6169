#include "bench/caller_frames.h"

namespace vracoins_bench {

__attribute__((noinline)) void RunBelowFrames(unsigned frames, const std::function<void()>& work) {
    if (frames == 0) {
        work();
    } else {
        RunBelowFrames(frames - 1, work);
    }
    // Something left to do after the call, so that it stays a call and its frame stays on the stack.
    asm volatile("" : : : "memory");
}

} // namespace vracoins_bench
