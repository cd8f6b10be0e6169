// The tables of docs/REGISTRY.md as data: one row per registry value, with the root, the key (where a
// part in angle brackets stands for any text), the value's name, its types and what the DLL does with it.
#pragma once

#include "winsim/control/all.h"
#include "platform/platform.h"

#include <set>
#include <string>
#include <vector>

namespace registry_doc {

using Operation = winsim::ValueAccess::Operation;

struct DocumentedValue {
    int line = 0;
    std::string root; // "HKLM" or "HKCU"
    std::string key;  // as written, placeholders included
    std::string name;
    std::vector<DWORD> types; // the first is the type the DLL writes or expects
    std::set<Operation> operations;

    // "HKLM\<key>\<name>", for messages.
    std::string Label() const;
    // Whether a concrete key path (without the root) is this row's key; letter case does not count.
    bool KeyMatches(const std::string& keyPath) const;
};

// Reads every table whose header row is "| Root | Key | Value | Type | DLL | ...". Rows that cannot be
// read are reported in `errors`, each with its line.
std::vector<DocumentedValue> ParseRegistryTables(const std::string& markdown,
                                                 std::vector<std::string>* errors);

std::string OperationName(Operation operation);
// "REG_SZ" for 1, and so on; the number for a type without a name.
std::string TypeName(DWORD type);
// False for a name that is no registry type.
bool TypeFromName(const std::string& name, DWORD* type);

std::string ReadTextFile(const std::string& path);

} // namespace registry_doc
