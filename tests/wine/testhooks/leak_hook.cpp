// Test-only exports of the Windows test build "vracoins_testhooks.dll" (the module's objects and this file):
// a block allocated through the module's own operator new and never released, so that the final report at
// unload writes a leak record for a call site whose function, source file and line are known here.
#include <cstddef>
#include <new>

namespace {

int leakCallLine = 0;

} // namespace

extern "C" void* vracoinsTestHook_leak(size_t size) {
    void* block = (leakCallLine = __LINE__, ::operator new(size, std::nothrow));
    return block;
}

// The source line of the allocation above; 0 before the first call.
extern "C" int vracoinsTestHook_leakLine() {
    return leakCallLine;
}
