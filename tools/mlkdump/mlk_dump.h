// The mlkdump command: prints every record of a raw record file and a summary.
#pragma once

#include <ostream>

namespace mlk {

// Exit codes of the command.
constexpr int kExitSuccess = 0;
constexpr int kExitMalformedFile = 1; // length not a multiple of the record size
constexpr int kExitUsage = 2;         // wrong arguments, or the file cannot be read

// argv[1] names the file. Records and summary go to `out`, errors to `err`.
int runMlkDump(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace mlk
