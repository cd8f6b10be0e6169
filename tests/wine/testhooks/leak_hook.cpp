// Test-only exports of the Windows test build "vracoins_testhooks.dll" (the module's objects and this file,
// with the module's entry): blocks allocated and released through the module's own operators, and a block
// allocated to be left live, so that the final report at unload writes a leak record for a call site whose
// function, source file and line are known here.
#include <cstddef>
#include <new>

namespace {

int leakCallLine = 0;

} // namespace

extern "C" void* vracoinsTestHook_leak(size_t size) {
    void* block = (leakCallLine = __LINE__, ::operator new(size, std::nothrow));
    return block;
}

// The source line and file of the allocation above; the line is 0 before the first call.
extern "C" int vracoinsTestHook_leakLine() {
    return leakCallLine;
}

extern "C" const char* vracoinsTestHook_leakFile() {
    return __FILE__;
}

// A block through the module's operator new (kind 0) or operator new[] (kind 1); null on failure.
extern "C" void* vracoinsTestHook_allocate(size_t size, int kind) {
    return kind == 1 ? ::operator new[](size, std::nothrow) : ::operator new(size, std::nothrow);
}

// Releases through the module's operator delete (kind 0) or operator delete[] (kind 1).
extern "C" void vracoinsTestHook_release(void* block, int kind) {
    if (kind == 1) {
        ::operator delete[](block);
    } else {
        ::operator delete(block);
    }
}
