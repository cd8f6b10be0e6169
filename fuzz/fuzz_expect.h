// A broken expectation ends the process with a message, so that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz expectation broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void Expect(bool condition, const std::string& what) {
    if (!condition) {
        Fail(what);
    }
}

} // namespace fuzz
