#include "mlk_dump.h"

#include "mlk_record.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
               "Prints each tracked-block record of a raw record file and a summary.\n";
        return kExitUsage;
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
