#include "failing_allocator.h"

#include "winsim/control/all.h"

#include <cstdlib>
#include <new>

namespace {

// Plain variables, constant-initialised: the module's constant strings are allocated before main.
bool counting = false;
bool failing = false;
bool failingOnce = false;
size_t allowedCount = 0;
size_t countedCount = 0;
size_t failedCount = 0;

void* Allocate(size_t size) {
    if (counting && !winsim::InPlatformCall()) {
        ++countedCount;
        if (failing && countedCount > allowedCount && (!failingOnce || countedCount == allowedCount + 1)) {
            ++failedCount;
            return nullptr;
        }
    }
    return std::malloc(size != 0 ? size : 1);
}

} // namespace

namespace failing_allocator {

void Start() {
    countedCount = 0;
    failedCount = 0;
    failing = false;
    failingOnce = false;
    counting = true;
}

void StartFailingAfter(size_t allowed) {
    Start();
    allowedCount = allowed;
    failing = true;
}

void StartFailingOnlyAfter(size_t allowed) {
    StartFailingAfter(allowed);
    failingOnce = true;
}

size_t Stop() {
    counting = false;
    failing = false;
    return countedCount;
}

size_t FailedCount() {
    return failedCount;
}

} // namespace failing_allocator

// Null instead of std::bad_alloc, like the module's hooks: the co-installer is built to test every result.
void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
