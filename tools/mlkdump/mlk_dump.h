// The mlkdump command: prints every record of a raw record file, or its records grouped by call site and
// flags, and a summary.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace mlk {

// Exit codes of the command.
constexpr int kExitSuccess = 0;
constexpr int kExitMalformedFile = 1; // length not a multiple of the record size
constexpr int kExitUsage = 2;         // wrong arguments, or the file cannot be read

// What the command prints before the summary.
enum class Listing {
    eachRecord, // `mlkdump FILE`: a line per record, in file order
    groups,     // `mlkdump --group FILE`: a line per caller and flag class, largest total bytes first
};

// argv[1] names the file; or is --group and argv[2] names the file; or is --version: the project's version
// goes to `out`. Records and summary go to `out`, errors to `err`.
int runMlkDump(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// The command's work on a file's contents, once read: records (or groups) and summary to `out`, or the
// reason the contents are no raw record file to `err`, naming the file as `path`. Returns the exit code.
int dumpRecordFile(const std::vector<uint8_t>& bytes, const char* path, std::ostream& out, std::ostream& err,
                   Listing listing = Listing::eachRecord);

} // namespace mlk
