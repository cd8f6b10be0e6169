#include "mlk_record.h"

#include <cinttypes>
#include <cstdio>

namespace mlk {

namespace {

uint64_t readLittleEndian(const uint8_t* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

uint64_t read64(const uint8_t* record, size_t at) {
    return readLittleEndian(record + at, 8);
}
uint32_t read32(const uint8_t* record, size_t at) {
    return static_cast<uint32_t>(readLittleEndian(record + at, 4));
}

std::string kindName(int32_t kind) {
    switch (kind) {
    case 0:
        return "new";
    case 1:
        return "new[]";
    default:
        return "unknown(" + std::to_string(kind) + ")";
    }
}

std::string sourceName(int32_t source) {
    switch (source) {
    case 0:
        return "heap";
    case 1:
        return "malloc";
    case 2:
        return "pages";
    default:
        return "unknown(" + std::to_string(source) + ")";
    }
}

} // namespace

Record decodeRecord(const uint8_t* bytes) {
    Record record;
    record.magic = bytes[offset::magic];
    record.prev = read64(bytes, offset::prev);
    record.next = read64(bytes, offset::next);
    record.id = read32(bytes, offset::id);
    record.size = read64(bytes, offset::size);
    record.allocKind = static_cast<int32_t>(read32(bytes, offset::allocKind));
    record.caller = read64(bytes, offset::caller);
    record.release = bytes[offset::release];
    record.userPtr = read64(bytes, offset::userPtr);
    record.allocPtr = read64(bytes, offset::allocPtr);
    record.source = static_cast<int32_t>(read32(bytes, offset::source));
    record.underrun = bytes[offset::underrun];
    record.overrun = bytes[offset::overrun];
    record.tailGuardSize = read64(bytes, offset::tailGuardSize);
    record.tailGuard = read64(bytes, offset::tailGuard);
    record.headGuardSize = read64(bytes, offset::headGuardSize);
    return record;
}

bool decodeFile(const std::vector<uint8_t>& bytes, std::vector<Record>* records, std::string* error) {
    records->clear();
    if (bytes.size() % kRecordSize != 0) {
        *error = "file length " + std::to_string(bytes.size()) + " is not a multiple of " +
                 std::to_string(kRecordSize) + " bytes (" + std::to_string(bytes.size() / kRecordSize) +
                 " whole records and " + std::to_string(bytes.size() % kRecordSize) +
                 " bytes left over): not a complete raw record file";
        return false;
    }
    records->reserve(bytes.size() / kRecordSize);
    for (size_t at = 0; at < bytes.size(); at += kRecordSize) {
        records->push_back(decodeRecord(bytes.data() + at));
    }
    return true;
}

std::string describeFlags(bool release, bool overrun, bool underrun, bool badMagic) {
    std::string flags;
    auto add = [&flags](const char* name) {
        if (!flags.empty()) {
            flags += ',';
        }
        flags += name;
    };
    if (release) {
        add("release");
    }
    if (overrun) {
        add("overrun");
    }
    if (underrun) {
        add("underrun");
    }
    if (badMagic) {
        add("badmagic");
    }
    return flags.empty() ? "none" : flags;
}

std::string hexAddress(uint64_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, address);
    return text;
}

std::string describeRecord(const Record& record) {
    return "id=" + std::to_string(record.id) + " size=" + std::to_string(record.size) +
           " kind=" + kindName(record.allocKind) + " source=" + sourceName(record.source) + " flags=" +
           describeFlags(record.release != 0, record.overrun != 0, record.underrun != 0,
                         record.magic != kHeaderMagic) +
           " caller=" + hexAddress(record.caller) + " userPtr=" + hexAddress(record.userPtr) +
           " allocPtr=" + hexAddress(record.allocPtr);
}

Summary summarize(const std::vector<Record>& records) {
    Summary summary;
    for (const Record& record : records) {
        ++summary.records;
        summary.totalBytes += record.size;
        summary.released += record.release != 0 ? 1 : 0;
        summary.overruns += record.overrun != 0 ? 1 : 0;
        summary.underruns += record.underrun != 0 ? 1 : 0;
        summary.badMagic += record.magic != kHeaderMagic ? 1 : 0;
    }
    return summary;
}

std::string describeSummary(const Summary& summary) {
    std::string text = std::to_string(summary.records) + " records, " + std::to_string(summary.totalBytes) +
                       " bytes; released after teardown " + std::to_string(summary.released) + ", overrun " +
                       std::to_string(summary.overruns) + ", underrun " + std::to_string(summary.underruns);
    if (summary.badMagic != 0) {
        text += ", without the header mark " + std::to_string(summary.badMagic);
    }
    return text;
}

} // namespace mlk
