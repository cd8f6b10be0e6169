#include "mlk_dump.h"

#include "mlk_group.h"
#include "mlk_record.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#ifndef VRACOINS_VERSION
#error "VRACOINS_VERSION, the project's version, is defined by tools/mlkdump/CMakeLists.txt"
#endif

namespace mlk {

namespace {

// Reads in blocks rather than character by character: a file of many records is read in well under a
// second, where a character iterator takes seconds per hundred megabytes.
bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    bytes->clear();
    std::vector<char> block(1 << 20);
    while (file.read(block.data(), static_cast<std::streamsize>(block.size())) || file.gcount() > 0) {
        bytes->insert(bytes->end(), block.begin(), block.begin() + file.gcount());
    }
    return !file.bad();
}

} // namespace

int runMlkDump(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    bool group = argc == 3 && std::strcmp(argv[1], "--group") == 0;
    bool eachRecord = argc == 2 && std::strcmp(argv[1], "--group") != 0;
    if (!group && !eachRecord) {
        err << "usage: mlkdump <file.mlk>\n"
               "       mlkdump --group <file.mlk>\n"
               "       mlkdump --version\n"
               "Prints each tracked-block record of a raw record file and a summary; with --group, a line\n"
               "per call site and flags (damaged guard, release after teardown, or none) with the count\n"
               "of its records and their total bytes, largest total first, and the summary.\n";
        return kExitUsage;
    }
    if (eachRecord && std::strcmp(argv[1], "--version") == 0) {
        out << "mlkdump " << VRACOINS_VERSION << "\n";
        return kExitSuccess;
    }
    const char* path = group ? argv[2] : argv[1];
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, &bytes)) {
        err << "mlkdump: cannot read " << path << "\n";
        return kExitUsage;
    }
    return dumpRecordFile(bytes, path, out, err, group ? Listing::groups : Listing::eachRecord);
}

int dumpRecordFile(const std::vector<uint8_t>& bytes, const char* path, std::ostream& out, std::ostream& err,
                   Listing listing) {
    std::vector<Record> records;
    std::string error;
    if (!decodeFile(bytes, &records, &error)) {
        err << "mlkdump: " << path << ": " << error << "\n";
        return kExitMalformedFile;
    }
    if (listing == Listing::groups) {
        for (const RecordGroup& group : groupRecords(records)) {
            out << describeGroup(group) << "\n";
        }
    } else {
        for (const Record& record : records) {
            out << describeRecord(record) << "\n";
        }
    }
    out << describeSummary(summarize(records)) << "\n";
    return kExitSuccess;
}

} // namespace mlk
