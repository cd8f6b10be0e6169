// Allocation operators without hooks: the scalar and array forms, each calling the run-time heap and
// nothing else. Out of line (their own translation unit), as the module's operators are to its callers.
#pragma once

#include <cstddef>

void* directAllocate(size_t size);
void* directArrayAllocate(size_t size);
void directRelease(void* pointer);
void directArrayRelease(void* pointer);
