#include "tests/wine/support/debug_output_capture.h"

namespace winetest {

namespace {

// The platform's exception codes (ntstatus.h), spelt here to keep that header out.
constexpr DWORD kDebugPrintException = 0x40010006; // DBG_PRINTEXCEPTION_C
constexpr DWORD kBreakpointException = 0x80000003; // EXCEPTION_BREAKPOINT
constexpr LONG kContinueExecution = -1;            // EXCEPTION_CONTINUE_EXECUTION
constexpr LONG kContinueSearch = 0;                // EXCEPTION_CONTINUE_SEARCH

DebugOutputCapture* active = nullptr;

} // namespace

DebugOutputCapture::DebugOutputCapture() {
    if (active != nullptr) {
        return;
    }
    active = this;
    handler = AddVectoredExceptionHandler(1, &DebugOutputCapture::Handle);
    if (handler == nullptr) {
        active = nullptr;
    }
}

DebugOutputCapture::~DebugOutputCapture() {
    if (handler != nullptr) {
        RemoveVectoredExceptionHandler(handler);
        active = nullptr;
    }
}

LONG CALLBACK DebugOutputCapture::Handle(EXCEPTION_POINTERS* exception) {
    DebugOutputCapture* capture = active;
    EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (capture == nullptr) {
        return kContinueSearch;
    }
    if (record->ExceptionCode == kDebugPrintException && record->NumberParameters >= 2) {
        // Parameters: the length including the terminating NUL, and the text.
        const auto length = static_cast<size_t>(record->ExceptionInformation[0]);
        const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        capture->pieces.emplace_back(text, length > 0 ? length - 1 : 0);
        return kContinueExecution;
    }
    if (record->ExceptionCode == kBreakpointException) {
        ++capture->breakpoints;
#if defined(_M_X64) || defined(__x86_64__)
        // The trap leaves the instruction pointer on the int3 under Windows' rules; step over its one byte.
        if (exception->ContextRecord->Rip == reinterpret_cast<DWORD64>(record->ExceptionAddress)) {
            exception->ContextRecord->Rip += 1;
        }
#endif
        return kContinueExecution;
    }
    return kContinueSearch;
}

std::string DebugOutputCapture::Text() const {
    std::string text;
    for (const std::string& piece : pieces) {
        text += piece;
    }
    return text;
}

void DebugOutputCapture::Clear() {
    pieces.clear();
    breakpoints = 0;
}

} // namespace winetest
