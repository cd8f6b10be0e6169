// The text records of the leak log.
#include "memtrack/leak_log.h"

#include "memtrack/bounded_text.h"
#include "memtrack/collector.h"
#include "memtrack/record_writer_lock.h"
#include "memtrack/symbol_resolver.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD symbolTextCapacity = MAX_PATH;

// The part of a module path after its last backslash; a path without one is printed whole.
const char* moduleNamePart(const char* modulePath) {
    const char* separator = strrchr(modulePath, '\\');
    return separator == nullptr ? modulePath : separator + 1;
}

// Addresses are printed by their low 32 bits.
unsigned int low32(const void* address) {
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(address));
}

int asSigned32(uint64_t value) {
    return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

} // namespace

char* formatBlockRecord(const char* modulePath, const OVMemHdr* header, RecordType recordType) {
    char* line = static_cast<char*>(calloc(recordTextCapacity, 1));
    if (line == nullptr || modulePath == nullptr || header == nullptr) {
        return line;
    }
    char function[symbolTextCapacity] = "";
    char file[symbolTextCapacity] = "";
    DWORD lineNumber = 0;
    RecordWriterLockHolder lock; // the resolver has one lookup buffer for the whole module
    if (symbolResolver != nullptr) {
        // Whatever the lookup found is printed, even when it found only part.
        symbolResolver->lookup(reinterpret_cast<DWORD64>(header->caller), function, symbolTextCapacity, file,
                               symbolTextCapacity, &lineNumber);
    }
    const char* module = moduleNamePart(modulePath);
    int id = asSigned32(header->id);
    int size = asSigned32(header->size);
    bool printed;
    switch (recordType) {
    case MemoryAccessViolationRecord:
        printed = formatBounded(
            line, recordTextCapacity,
            "MemoryAccessViolation allocPtr=\"0x%X\" memHdrPtr=\"0x%X\" module=\"%s\" id=\"%d\" "
            "size=\"%d\" function=\"%s\" file=\"%s\" line=\"%d\" overrun=\"%d\" "
            "underrun=\"%d\"\r\n",
            low32(header->allocPtr), low32(header), module, id, size, function, file,
            static_cast<int>(lineNumber), header->overrun, header->underrun);
        break;
    case MemoryInUseRecord:
        printed = formatBounded(line, recordTextCapacity,
                                "MemoryInUse allocPtr=\"0x%X\" memHdrPtr=\"0x%X\" module=\"%s\" id=\"%d\" "
                                "size=\"%d\" function=\"%s\" file=\"%s\" line=\"%d\" overrun=\"%d\" "
                                "underrun=\"%d\"\r\n",
                                low32(header->allocPtr), low32(header), module, id, size, function, file,
                                static_cast<int>(lineNumber), header->overrun, header->underrun);
        break;
    default:
        printed =
            formatBounded(line, recordTextCapacity,
                          "MemoryLeak module=\"%s\" id=\"%d\" size=\"%d\" release=\"%d\" function=\"%s\" "
                          "file=\"%s\" line=\"%d\" overrun=\"%d\" underrun=\"%d\"\r\n",
                          module, id, size, header->release, function, file, static_cast<int>(lineNumber),
                          header->overrun, header->underrun);
        break;
    }
    if (!printed) {
        free(line);
        return nullptr;
    }
    return line;
}
