// Decoding of the tracker's raw record file (".mlk"): a plain sequence of 504-byte tracked-block headers
// with no file header, separator or trailer. Each header is read field by field at its file offset, in
// little-endian order, so the decoder neither depends on how a compiler lays out the in-memory header nor
// on the byte order of the machine it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mlk {

// One header as the writing process had it in memory: 64-bit pointers of that process.
constexpr size_t kRecordSize = 504;
constexpr uint8_t kHeaderMagic = 0xAA;

// Field offsets of the file format.
namespace offset {
constexpr size_t magic = 0;
constexpr size_t prev = 8;
constexpr size_t next = 16;
constexpr size_t id = 24;
constexpr size_t size = 32;
constexpr size_t allocKind = 40;
constexpr size_t caller = 48;
constexpr size_t release = 64;
constexpr size_t userPtr = 72;
constexpr size_t allocPtr = 80;
constexpr size_t source = 88;
constexpr size_t underrun = 92;
constexpr size_t overrun = 93;
constexpr size_t tailGuardSize = 96;
constexpr size_t tailGuard = 104;
constexpr size_t headGuardSize = 112;
constexpr size_t headGuard = 120;
} // namespace offset

struct Record {
    uint8_t magic = 0;
    uint64_t prev = 0;
    uint64_t next = 0;
    uint32_t id = 0;
    uint64_t size = 0;
    int32_t allocKind = 0; // 0: new, 1: new[]
    uint64_t caller = 0;
    uint8_t release = 0; // released after the collector's teardown
    uint64_t userPtr = 0;
    uint64_t allocPtr = 0;
    int32_t source = 0; // 0: process heap, 1: run-time heap, 2: pages
    uint8_t underrun = 0;
    uint8_t overrun = 0;
    uint64_t tailGuardSize = 0;
    uint64_t tailGuard = 0;
    uint64_t headGuardSize = 0;
};

struct Summary {
    uint64_t records = 0;
    uint64_t totalBytes = 0;
    uint64_t released = 0;
    uint64_t overruns = 0;
    uint64_t underruns = 0;
    uint64_t badMagic = 0;
};

// Decodes one record from exactly kRecordSize bytes at `bytes`.
Record decodeRecord(const uint8_t* bytes);

// Decodes a whole file's contents. Fails, with a message naming the length, when the length is not a
// multiple of kRecordSize: such a file was cut short or is not a raw record file. An empty file holds no
// records and is valid.
bool decodeFile(const std::vector<uint8_t>& bytes, std::vector<Record>* records, std::string* error);

// "id=7 size=24 kind=new source=heap flags=none caller=0x... userPtr=0x... allocPtr=0x..."
std::string describeRecord(const Record& record);
// The flags field of a record's line: "release,overrun,underrun,badmagic" as far as set, or "none".
std::string describeFlags(bool release, bool overrun, bool underrun, bool badMagic);
// An address as a record's line prints it: "0x00007FF612345678".
std::string hexAddress(uint64_t address);

Summary summarize(const std::vector<Record>& records);
// "3 records, 60 bytes; released after teardown 1, overrun 1, underrun 0"
std::string describeSummary(const Summary& summary);

} // namespace mlk
