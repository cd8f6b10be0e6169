#include "memtrack/block_counters.h"

volatile ULONG allocCounter = 0;
std::atomic<uint64_t> pageSize{1};
volatile LONG heapFailureSeen = 0;
volatile LONG pageFailureSeen = 0;

uint32_t nextAllocId() {
    // ULONG and LONG are the unsigned and signed forms of one type, so the counter may be advanced
    // through the signed interlocked operation.
    return static_cast<uint32_t>(InterlockedIncrement(reinterpret_cast<volatile LONG*>(&allocCounter)));
}

bool raiseOnceFlag(volatile LONG* flag) {
    return InterlockedExchange(flag, 1) == 0;
}

uint64_t currentPageSize() {
    uint64_t size = pageSize.load(std::memory_order_relaxed);
    if (size == 1) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size = info.dwPageSize;
        pageSize.store(size, std::memory_order_relaxed);
    }
    return size;
}
