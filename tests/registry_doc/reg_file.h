// A reader of the registry files in registry/: ASCII text under the header "Windows Registry Editor
// Version 5.00", as regedit imports it, and the import of what it reads into the simulated registry.
// Read: [key] and [-key] lines, "name"= or @= with a string, dword:, hex: or hex(n): data (continued on
// the next line after a trailing backslash) or - for a deletion, blank lines and ; comments.
#pragma once

#include "winsim/control/all.h"

#include <string>
#include <vector>

namespace registry_doc {

struct RegFileEntry {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = CreateKey;
    int line = 0;
    HKEY root = nullptr;
    std::string rootName; // as written, HKEY_LOCAL_MACHINE for example
    std::string keyPath;  // below the root
    std::string name;     // empty for the default value (@)
    DWORD type = 0;
    winsim::Bytes data; // UTF-16 with its NUL for a string, as regedit stores it
};

struct RegFile {
    std::vector<RegFileEntry> entries;
    std::vector<std::string> errors; // one per line that cannot be read, with its number
};

RegFile ParseRegFile(const std::string& text);

// What regedit does with the entries, in order, on the simulated registry.
void ImportRegFile(const RegFile& file);

// Format problems that would keep regedit from importing the file as written: a byte-order mark, another
// first line, a line not ended by CRLF, a byte that is not printable ASCII.
std::vector<std::string> FormatProblems(const std::string& text);

} // namespace registry_doc
