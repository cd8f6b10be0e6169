#include "registry_table.h"

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace registry_doc {
namespace {

struct NamedType {
    const char* name;
    DWORD type;
};

const NamedType namedTypes[] = {
    {"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},         {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},           {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_QWORD", REG_QWORD},
};

const std::vector<std::string> expectedHeader = {"Root", "Key", "Value", "Type", "DLL"};

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string WithoutBackticks(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c != '`') {
            result.push_back(c);
        }
    }
    return Trim(result);
}

// The cells of a table row "| a | b |"; none for a line that is not a row.
std::vector<std::string> Cells(const std::string& line) {
    std::string row = Trim(line);
    std::vector<std::string> cells;
    if (row.size() < 2 || row.front() != '|' || row.back() != '|') {
        return cells;
    }
    std::stringstream stream(row.substr(1, row.size() - 2));
    std::string cell;
    while (std::getline(stream, cell, '|')) {
        cells.push_back(Trim(cell));
    }
    return cells;
}

bool IsHeader(const std::vector<std::string>& cells) {
    if (cells.size() < expectedHeader.size()) {
        return false;
    }
    for (size_t i = 0; i < expectedHeader.size(); ++i) {
        if (cells[i] != expectedHeader[i]) {
            return false;
        }
    }
    return true;
}

bool ParseTypes(const std::string& cell, std::vector<DWORD>* types, std::string* problem) {
    static const std::regex typeToken("REG_[A-Z_]+");
    for (auto it = std::sregex_iterator(cell.begin(), cell.end(), typeToken); it != std::sregex_iterator();
         ++it) {
        DWORD type = 0;
        if (!TypeFromName(it->str(), &type)) {
            *problem = "unknown type " + it->str();
            return false;
        }
        types->push_back(type);
    }
    if (types->empty()) {
        *problem = "no REG_ type in the Type column";
        return false;
    }
    return true;
}

bool ParseOperations(const std::string& cell, std::set<Operation>* operations, std::string* problem) {
    std::stringstream stream(cell);
    std::string word;
    while (std::getline(stream, word, ',')) {
        word = Trim(word);
        if (word == "read") {
            operations->insert(winsim::ValueAccess::Read);
        } else if (word == "write") {
            operations->insert(winsim::ValueAccess::Write);
        } else if (word == "delete") {
            operations->insert(winsim::ValueAccess::Delete);
        } else {
            *problem = "the DLL column holds \"" + word + "\", not read, write or delete";
            return false;
        }
    }
    if (operations->empty()) {
        *problem = "the DLL column is empty";
        return false;
    }
    return true;
}

std::string RegexLiteral(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

} // namespace

std::string DocumentedValue::Label() const {
    return root + "\\" + key + "\\" + name;
}

bool DocumentedValue::KeyMatches(const std::string& keyPath) const {
    std::string pattern;
    size_t at = 0;
    while (at < key.size()) {
        size_t open = key.find('<', at);
        size_t close = open == std::string::npos ? std::string::npos : key.find('>', open);
        if (close == std::string::npos) {
            pattern += RegexLiteral(key.substr(at));
            break;
        }
        pattern += RegexLiteral(key.substr(at, open - at)) + ".+";
        at = close + 1;
    }
    return std::regex_match(keyPath, std::regex(pattern, std::regex::icase));
}

std::vector<DocumentedValue> ParseRegistryTables(const std::string& markdown,
                                                 std::vector<std::string>* errors) {
    std::vector<DocumentedValue> rows;
    std::stringstream stream(markdown);
    std::string line;
    int lineNumber = 0;
    bool inTable = false;
    bool separatorSeen = false;
    while (std::getline(stream, line)) {
        ++lineNumber;
        std::vector<std::string> cells = Cells(line);
        if (cells.empty()) {
            inTable = false;
            continue;
        }
        if (!inTable) {
            inTable = IsHeader(cells);
            separatorSeen = false;
            continue;
        }
        if (!separatorSeen) {
            separatorSeen = true; // the "|---|---|" line under the header
            continue;
        }
        std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (cells.size() < expectedHeader.size()) {
            errors->push_back(where + "a row with fewer than five columns");
            continue;
        }
        DocumentedValue row;
        row.line = lineNumber;
        row.root = WithoutBackticks(cells[0]);
        row.key = WithoutBackticks(cells[1]);
        row.name = WithoutBackticks(cells[2]);
        std::string problem;
        if (row.root != "HKLM" && row.root != "HKCU") {
            problem = "the root is \"" + row.root + "\", not HKLM or HKCU";
        } else if (row.key.empty() || row.name.empty()) {
            problem = "no key or no value name";
        } else if (ParseTypes(cells[3], &row.types, &problem) &&
                   ParseOperations(cells[4], &row.operations, &problem)) {
            rows.push_back(row);
            continue;
        }
        errors->push_back(where + problem);
    }
    return rows;
}

std::string OperationName(Operation operation) {
    switch (operation) {
    case winsim::ValueAccess::Read:
        return "read";
    case winsim::ValueAccess::Write:
        return "write";
    case winsim::ValueAccess::Delete:
        return "delete";
    }
    return "?";
}

std::string TypeName(DWORD type) {
    for (const NamedType& named : namedTypes) {
        if (named.type == type) {
            return named.name;
        }
    }
    return "type " + std::to_string(type);
}

bool TypeFromName(const std::string& name, DWORD* type) {
    for (const NamedType& named : namedTypes) {
        if (name == named.name) {
            *type = named.type;
            return true;
        }
    }
    return false;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace registry_doc
