// The module's global allocation operators: the single road by which every dynamic allocation of the
// module is made and released. They do no work of their own (allocation_hooks.cpp) and never throw: a failed
// allocation yields null, which the module's code (compiled with -fcheck-new) tests for. The aligned forms
// pass their alignment on, to new and delete alike.
//
// Outside Windows the module is a shared library whose version script keeps these operators local, so a
// program that loads the module keeps its own allocator, as a process does with a DLL's operators.
#include "memtrack/allocation_hooks.h"
#include "memtrack/mem_header.h"
#include "platform/portability.h"

#include <cstddef>
#include <new>

void* operator new(std::size_t size) {
    return hookAllocate(size, AllocKindScalar, VRA_RETURN_ADDRESS());
}

void* operator new[](std::size_t size) {
    return hookAllocate(size, AllocKindArray, VRA_RETURN_ADDRESS());
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return hookAllocate(size, AllocKindScalar, VRA_RETURN_ADDRESS());
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return hookAllocate(size, AllocKindArray, VRA_RETURN_ADDRESS());
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    return hookAllocateAligned(size, static_cast<size_t>(alignment), AllocKindScalar, VRA_RETURN_ADDRESS());
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    return hookAllocateAligned(size, static_cast<size_t>(alignment), AllocKindArray, VRA_RETURN_ADDRESS());
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return hookAllocateAligned(size, static_cast<size_t>(alignment), AllocKindScalar, VRA_RETURN_ADDRESS());
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return hookAllocateAligned(size, static_cast<size_t>(alignment), AllocKindArray, VRA_RETURN_ADDRESS());
}

void operator delete(void* pointer) noexcept {
    hookRelease(pointer, AllocKindScalar);
}

void operator delete[](void* pointer) noexcept {
    hookRelease(pointer, AllocKindArray);
}

void operator delete(void* pointer, std::size_t) noexcept {
    hookRelease(pointer, AllocKindScalar);
}

void operator delete[](void* pointer, std::size_t) noexcept {
    hookRelease(pointer, AllocKindArray);
}

void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    hookRelease(pointer, AllocKindScalar);
}

void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    hookRelease(pointer, AllocKindArray);
}

void operator delete(void* pointer, std::align_val_t alignment) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindScalar);
}

void operator delete[](void* pointer, std::align_val_t alignment) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindArray);
}

void operator delete(void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindScalar);
}

void operator delete[](void* pointer, std::size_t, std::align_val_t alignment) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindArray);
}

void operator delete(void* pointer, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindScalar);
}

void operator delete[](void* pointer, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    hookReleaseAligned(pointer, static_cast<size_t>(alignment), AllocKindArray);
}
