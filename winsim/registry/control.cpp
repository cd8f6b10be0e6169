// Test-facing control of the simulated registry: seeding keys and values, reading back what the code
// under test wrote, limiting access to keys, the open-handle accounting and the log of value accesses.
#include "winsim/control/registry.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/registry/store.h"

using namespace winsim_detail;

namespace winsim {

void CreateKey(HKEY root, const std::u16string& path) {
    ControlCall call;
    EnsureKey(root, ToSim(path));
}

bool KeyExists(HKEY root, const std::u16string& path) {
    ControlCall call;
    return FindKey(root, ToSim(path)) != nullptr;
}

void DeleteKeyTree(HKEY root, const std::u16string& path) {
    ControlCall call;
    if (std::shared_ptr<RegKey> key = FindKey(root, ToSim(path))) {
        DeleteKey(*key);
    }
}

void SetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
              const Bytes& data) {
    ControlCall call;
    if (std::shared_ptr<RegKey> key = EnsureKey(root, ToSim(path))) {
        StoreValue(*key, ToSim(name), type, data.data(), data.size());
    }
}

void SetDwordValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD value) {
    SetValue(root, path, name, REG_DWORD, DwordBytes(value));
}

void SetStringValue(HKEY root, const std::u16string& path, const std::u16string& name,
                    const std::u16string& text, DWORD type) {
    SetValue(root, path, name, type, StringBytes(text, true));
}

bool GetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD* type, Bytes* data) {
    ControlCall call;
    std::shared_ptr<RegKey> key = FindKey(root, ToSim(path));
    const RegValue* value = key ? FindValue(*key, ToSim(name)) : nullptr;
    if (value == nullptr) {
        return false;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    if (data != nullptr) {
        data->assign(value->data.begin(), value->data.end());
    }
    return true;
}

bool ValueExists(HKEY root, const std::u16string& path, const std::u16string& name) {
    return GetValue(root, path, name, nullptr, nullptr);
}

bool GetStringValue(HKEY root, const std::u16string& path, const std::u16string& name, std::u16string* text) {
    ControlCall call;
    Bytes data;
    if (!GetValue(root, path, name, nullptr, &data)) {
        if (text != nullptr) {
            text->clear();
        }
        return false;
    }
    std::u16string decoded;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        decoded.push_back(unit);
    }
    if (text != nullptr) {
        *text = decoded;
    }
    return true;
}

std::vector<std::u16string> ValueNames(HKEY root, const std::u16string& path) {
    ControlCall call;
    std::vector<std::u16string> names;
    if (std::shared_ptr<RegKey> key = FindKey(root, ToSim(path))) {
        for (const RegValue& value : key->values) {
            names.push_back(FromSim(value.name));
        }
    }
    return names;
}

void RestrictKeyAccess(HKEY root, const std::u16string& path, REGSAM allowed) {
    ControlCall call;
    RestrictAccess(root, ToSim(path), allowed);
}

size_t OpenKeyCount() {
    ControlCall call;
    return OpenKeyHandleCount();
}

std::vector<std::u16string> OpenedKeyLog() {
    ControlCall call;
    std::vector<std::u16string> log;
    for (const SimWString& path : OpenedKeys()) {
        log.push_back(FromSim(path));
    }
    return log;
}

std::vector<ValueAccess> ValueAccessLog() {
    ControlCall call;
    std::vector<ValueAccess> log;
    for (const ValueAccessEntry& entry : ValueAccesses()) {
        ValueAccess access;
        access.keyPath = FromSim(entry.keyPath);
        access.name = FromSim(entry.name);
        access.operation = entry.operation == ValueOperation::Write    ? ValueAccess::Write
                           : entry.operation == ValueOperation::Delete ? ValueAccess::Delete
                                                                       : ValueAccess::Read;
        access.type = entry.type;
        access.existed = entry.existed;
        log.push_back(access);
    }
    return log;
}

} // namespace winsim
