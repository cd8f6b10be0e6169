#include "memtrack/fault_notice.h"

#include "memtrack/bounded_text.h"
#include "memtrack/debug_text.h"
#include "memtrack/debugger_trap.h"
#include "memtrack/mem_header.h"

namespace {

constexpr size_t noticeCapacity = 200;

unsigned long long addressOf(const void* pointer) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer));
}

const char* formName(int32_t kind) {
    return kind == AllocKindArray ? "delete[]" : "delete";
}

void sendNoticeAndStop(const char* notice) {
    writeDebugString(notice);
    breakIntoDebugger();
}

} // namespace

void reportForeignRelease(const void* pointer) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice,
                  "OVMemCollector: release of 0x%llX refused: not a block of this module\r\n",
                  addressOf(pointer));
    sendNoticeAndStop(notice);
}

void reportMismatchedRelease(const void* pointer, int32_t allocKind, int32_t releaseKind) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice,
                  "OVMemCollector: release of 0x%llX refused: made for %s, released by %s\r\n",
                  addressOf(pointer), formName(allocKind), formName(releaseKind));
    sendNoticeAndStop(notice);
}

void reportUnknownSource(const void* userPtr, int32_t source) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice,
                  "OVMemCollector: block 0x%llX has unknown source %d; its memory is kept\r\n",
                  addressOf(userPtr), static_cast<int>(source));
    sendNoticeAndStop(notice);
}
