// Allocation operators without hooks: the scalar and array forms, each calling the run-time heap and
// nothing else. Out of line (their own translation unit), as the module's operators are to its callers,
// and the nothrow forms, which the module's test entry points call, so that the entries' calls match.
#pragma once

#include <cstddef>
#include <new>

void* directAllocate(size_t size, const std::nothrow_t&) noexcept;
void* directArrayAllocate(size_t size, const std::nothrow_t&) noexcept;
void directRelease(void* pointer) noexcept;
void directArrayRelease(void* pointer) noexcept;
