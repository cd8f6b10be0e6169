// Formatting of the call-stack lines and data rows that follow a record line.
#include "memtrack/record_details.h"

#include "memtrack/debug_text.h"
#include "memtrack/symbols.h"
#include "memtrack/track_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t bytesPerRow = 16;
// A frame line: four numbers, a module name and a function and file of up to MAX_PATH each.
constexpr size_t frameLineCapacity = 3 * MAX_PATH + 96;

// A text that grows on the run-time heap; once an append fails it stays failed.
struct DetailText {
    char* text = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    bool failed = false;

    void append(const char* piece) {
        size_t pieceLength = strlen(piece);
        if (failed || pieceLength == 0) {
            return;
        }
        if (length + pieceLength + 1 > capacity) {
            size_t grown = capacity == 0 ? 1024 : capacity;
            while (length + pieceLength + 1 > grown) {
                grown *= 2;
            }
            auto* larger = static_cast<char*>(realloc(text, grown));
            if (larger == nullptr) {
                failed = true;
                return;
            }
            text = larger;
            capacity = grown;
        }
        std::memcpy(text + length, piece, pieceLength + 1);
        length += pieceLength;
    }

    // The text, or none when nothing was added or an append failed.
    char* release() {
        if (failed || length == 0) {
            free(text);
            return nullptr;
        }
        return text;
    }
};

void appendFrame(DetailText* details, unsigned number, void* address) {
    char module[MAX_PATH] = "(no module)";
    uintptr_t base = 0;
    moduleFileNameOf(address, module, sizeof module, &base);
    char function[MAX_PATH] = "";
    char file[MAX_PATH] = "";
    DWORD line = 0;
    lookupCallSite(address, function, sizeof function, file, sizeof file, &line);
    const unsigned long long at = reinterpret_cast<uintptr_t>(address);
    char text[frameLineCapacity] = {};
    bool printed;
    if (file[0] != 0) {
        printed = formatBounded(text, sizeof text, "    #%u 0x%016llX %s+0x%llX %s %s(%lu)\r\n", number, at,
                                module, at - base, function[0] != 0 ? function : "?", file,
                                static_cast<unsigned long>(line));
    } else {
        printed = formatBounded(text, sizeof text, "    #%u 0x%016llX %s+0x%llX%s%s\r\n", number, at, module,
                                at - base, function[0] != 0 ? " " : "", function);
    }
    if (printed) {
        details->append(text);
    }
}

void appendDataRows(DetailText* details, const uint8_t* data, uint64_t count) {
    for (uint64_t row = 0; row < count; row += bytesPerRow) {
        char text[4 + 6 + 3 * bytesPerRow + 1 + bytesPerRow + 3] = {};
        size_t at =
            static_cast<size_t>(snprintf(text, sizeof text, "    %04X  ", static_cast<unsigned>(row)));
        for (uint64_t column = 0; column < bytesPerRow; ++column) {
            if (row + column < count) {
                at += static_cast<size_t>(snprintf(text + at, sizeof text - at, "%02X ", data[row + column]));
            } else {
                at += static_cast<size_t>(snprintf(text + at, sizeof text - at, "   "));
            }
        }
        text[at++] = ' ';
        for (uint64_t column = 0; column < bytesPerRow && row + column < count; ++column) {
            uint8_t byte = data[row + column];
            text[at++] = byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        text[at++] = '\r';
        text[at++] = '\n';
        details->append(text);
    }
}

} // namespace

char* formatRecordDetails(const OVMemHdr* header, const CallStack* stack, uint32_t sharedStackId) {
    DetailText details;
    if (stack != nullptr && sharedStackId != 0) {
        char text[64] = {};
        if (formatBounded(text, sizeof text, "    same call stack as id=\"%d\"\r\n",
                          static_cast<int>(sharedStackId))) {
            details.append(text);
        }
    } else if (stack != nullptr) {
        for (uint32_t frame = 0; frame < stack->depth; ++frame) {
            appendFrame(&details, frame, stack->frames[frame]);
        }
    }
    if (dataBytes != 0 && header != nullptr && header->userPtr != nullptr) {
        uint64_t count = header->size < dataBytes ? header->size : dataBytes;
        appendDataRows(&details, static_cast<const uint8_t*>(header->userPtr), count);
    }
    return details.release();
}
