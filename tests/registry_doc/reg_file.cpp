#include "reg_file.h"

#include "platform/platform.h"

#include <cstdlib>

namespace registry_doc {
namespace {

const char header[] = "Windows Registry Editor Version 5.00";

struct Root {
    const char* name;
    HKEY key;
};

// The roots that the simulation holds.
const Root roots[] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool SplitKey(const std::string& fullPath, RegFileEntry* entry, std::string* problem) {
    size_t slash = fullPath.find('\\');
    entry->rootName = fullPath.substr(0, slash);
    entry->keyPath = slash == std::string::npos ? "" : fullPath.substr(slash + 1);
    for (const Root& root : roots) {
        if (entry->rootName == root.name) {
            entry->root = root.key;
            return true;
        }
    }
    *problem = "unknown root " + entry->rootName;
    return false;
}

// A quoted text starting at `at` (the opening quote); \\ and \" are the escapes regedit writes.
bool QuotedText(const std::string& line, size_t* at, std::string* text) {
    if (*at >= line.size() || line[*at] != '"') {
        return false;
    }
    for (size_t i = *at + 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
            text->push_back(line[++i]);
        } else if (line[i] == '"') {
            *at = i + 1;
            return true;
        } else {
            text->push_back(line[i]);
        }
    }
    return false;
}

bool HexBytes(const std::string& list, winsim::Bytes* data) {
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        std::string byte = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        while (!byte.empty() && (byte.front() == ' ')) {
            byte.erase(0, 1);
        }
        char* end = nullptr;
        unsigned long value = std::strtoul(byte.c_str(), &end, 16);
        if (byte.empty() || byte.size() > 2 || *end != 0) {
            return false;
        }
        data->push_back(static_cast<BYTE>(value));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return true;
}

// The data after '=': a string, dword:, hex: or hex(n):, or '-'.
bool ValueData(const std::string& data, RegFileEntry* entry, std::string* problem) {
    if (data == "-") {
        entry->kind = RegFileEntry::DeleteValue;
        return true;
    }
    entry->kind = RegFileEntry::SetValue;
    if (!data.empty() && data[0] == '"') {
        std::string text;
        size_t at = 0;
        if (!QuotedText(data, &at, &text) || at != data.size()) {
            *problem = "a string that is not closed";
            return false;
        }
        entry->type = REG_SZ;
        entry->data = winsim::StringBytes(winsim::FromUtf8(text), true);
        return true;
    }
    if (data.rfind("dword:", 0) == 0) {
        std::string digits = data.substr(6);
        char* end = nullptr;
        unsigned long value = std::strtoul(digits.c_str(), &end, 16);
        if (digits.size() != 8 || *end != 0) {
            *problem = "dword: wants eight hexadecimal digits";
            return false;
        }
        entry->type = REG_DWORD;
        entry->data = winsim::DwordBytes(static_cast<DWORD>(value));
        return true;
    }
    std::string list;
    if (data.rfind("hex:", 0) == 0) {
        entry->type = REG_BINARY;
        list = data.substr(4);
    } else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos) {
        size_t close = data.find("):");
        entry->type = static_cast<DWORD>(std::strtoul(data.substr(4, close - 4).c_str(), nullptr, 16));
        list = data.substr(close + 2);
    } else {
        *problem = "data of an unknown form: " + data;
        return false;
    }
    if (!HexBytes(list, &entry->data)) {
        *problem = "hexadecimal data that cannot be read: " + list;
        return false;
    }
    return true;
}

} // namespace

RegFile ParseRegFile(const std::string& text) {
    RegFile file;
    std::vector<std::string> lines = Lines(text);
    if (lines.empty() || lines[0] != header) {
        file.errors.push_back(std::string("line 1: the header is not \"") + header + "\"");
        return file;
    }
    std::string currentKey;
    bool keyUsable = false;
    for (size_t index = 1; index < lines.size(); ++index) {
        int lineNumber = static_cast<int>(index) + 1;
        std::string line = lines[index];
        // A trailing backslash continues hexadecimal data on the next line.
        while (!line.empty() && line.back() == '\\' && index + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++index];
            next.erase(0, next.find_first_not_of(' '));
            line += next;
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        std::string where = "line " + std::to_string(lineNumber) + ": ";
        std::string problem;
        RegFileEntry entry;
        entry.line = lineNumber;
        if (line[0] == '[') {
            if (line.back() != ']') {
                file.errors.push_back(where + "a key line without its closing bracket");
                keyUsable = false;
                continue;
            }
            bool deletion = line.size() > 1 && line[1] == '-';
            currentKey = line.substr(deletion ? 2 : 1, line.size() - (deletion ? 3 : 2));
            entry.kind = deletion ? RegFileEntry::DeleteKey : RegFileEntry::CreateKey;
            bool rootKnown = SplitKey(currentKey, &entry, &problem);
            keyUsable = !deletion && rootKnown;
            if (!rootKnown) {
                file.errors.push_back(where + problem);
                continue;
            }
            file.entries.push_back(entry);
            continue;
        }
        if (!keyUsable) {
            file.errors.push_back(where + "a value outside a key that is created");
            continue;
        }
        SplitKey(currentKey, &entry, &problem);
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (!QuotedText(line, &at, &entry.name)) {
            file.errors.push_back(where + "a line that is neither a key, a value nor a comment");
            continue;
        }
        if (at >= line.size() || line[at] != '=') {
            file.errors.push_back(where + "no '=' after the value name");
            continue;
        }
        if (!ValueData(line.substr(at + 1), &entry, &problem)) {
            file.errors.push_back(where + problem);
            continue;
        }
        file.entries.push_back(entry);
    }
    return file;
}

void ImportRegFile(const RegFile& file) {
    for (const RegFileEntry& entry : file.entries) {
        std::u16string key = winsim::FromUtf8(entry.keyPath);
        std::u16string name = winsim::FromUtf8(entry.name);
        switch (entry.kind) {
        case RegFileEntry::CreateKey:
            winsim::CreateKey(entry.root, key);
            break;
        case RegFileEntry::DeleteKey:
            winsim::DeleteKeyTree(entry.root, key);
            break;
        case RegFileEntry::SetValue:
            winsim::SetValue(entry.root, key, name, entry.type, entry.data);
            break;
        case RegFileEntry::DeleteValue: {
            // The control API has no value deletion; regedit's own call serves.
            HKEY handle = nullptr;
            if (RegOpenKeyExW(entry.root, key.c_str(), 0, KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
                RegDeleteValueW(handle, name.c_str());
                RegCloseKey(handle);
            }
            break;
        }
        }
    }
}

std::vector<std::string> FormatProblems(const std::string& text) {
    std::vector<std::string> problems;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        problems.push_back("it starts with a UTF-16 byte-order mark; the files are kept in ASCII");
        return problems;
    }
    if (text.compare(0, sizeof header - 1, header) != 0) {
        problems.push_back(std::string("its first line is not \"") + header + "\"");
    }
    int lineNumber = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (c == '\n') {
            if (i == 0 || text[i - 1] != '\r') {
                problems.push_back(where + "ends in LF without CR");
            }
            ++lineNumber;
        } else if (c == '\r') {
            if (i + 1 == text.size() || text[i + 1] != '\n') {
                problems.push_back(where + "holds a CR that does not end it");
            }
        } else if (c != '\t' && (c < 0x20 || c > 0x7E)) {
            problems.push_back(where + "holds the byte " + std::to_string(c) +
                               ", which is not printable ASCII");
        }
    }
    if (text.empty() || text.back() != '\n') {
        problems.push_back("the last line is not ended by CRLF");
    }
    return problems;
}

} // namespace registry_doc
