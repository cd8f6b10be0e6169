#include "mlk_dump.h"

#include "mlk_record.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef VRACOINS_VERSION
#error "VRACOINS_VERSION, the project's version, is defined by tools/mlkdump/CMakeLists.txt"
#endif

namespace mlk {

namespace {

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

} // namespace

int runMlkDump(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    if (argc != 2) {
        err << "usage: mlkdump <file.mlk>\n"
               "       mlkdump --version\n"
               "Prints each tracked-block record of a raw record file and a summary.\n";
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        out << "mlkdump " << VRACOINS_VERSION << "\n";
        return kExitSuccess;
    }
    const char* path = argv[1];
    std::vector<uint8_t> bytes;
    if (!readWholeFile(path, &bytes)) {
        err << "mlkdump: cannot read " << path << "\n";
        return kExitUsage;
    }
    return dumpRecordFile(bytes, path, out, err);
}

int dumpRecordFile(const std::vector<uint8_t>& bytes, const char* path, std::ostream& out,
                   std::ostream& err) {
    std::vector<Record> records;
    std::string error;
    if (!decodeFile(bytes, &records, &error)) {
        err << "mlkdump: " << path << ": " << error << "\n";
        return kExitMalformedFile;
    }
    for (const Record& record : records) {
        out << describeRecord(record) << "\n";
    }
    out << describeSummary(summarize(records)) << "\n";
    return kExitSuccess;
}

} // namespace mlk
