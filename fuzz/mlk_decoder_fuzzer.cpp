// mlkdump's decoding of a raw record file (".mlk"): the input is the file's contents, whole. A file of
// whole records prints one line per record and the summary; any other length is refused with a message
// and nothing printed.
#include "fuzz_expect.h"
#include "mlk_dump.h"
#include "mlk_record.h"

#include <sstream>
#include <string>
#include <vector>

using fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    std::ostringstream out;
    std::ostringstream err;
    int exitCode = mlk::dumpRecordFile(bytes, "fuzz.mlk", out, err);

    size_t records = size / mlk::kRecordSize;
    if (size % mlk::kRecordSize != 0) {
        Expect(exitCode == mlk::kExitMalformedFile, "a cut file was not refused");
        Expect(out.str().empty() && !err.str().empty(), "a cut file printed records or no reason");
        return 0;
    }
    Expect(exitCode == mlk::kExitSuccess && err.str().empty(), "a file of whole records was refused");
    std::string text = out.str();
    size_t lines = 0;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    Expect(lines == records + 1, "not one line per record and the summary");
    for (size_t at = 0; at < size; at += mlk::kRecordSize) {
        mlk::Record record = mlk::decodeRecord(data + at);
        uint32_t id = static_cast<uint32_t>(data[at + 24] | (data[at + 25] << 8) | (data[at + 26] << 16) |
                                            (static_cast<uint32_t>(data[at + 27]) << 24));
        Expect(record.id == id && record.magic == data[at], "a record's id or mark was misread");
    }
    return 0;
}
