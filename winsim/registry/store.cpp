// Key trees, handles and access rules of the simulated registry; registry.h says what is modelled.
#include "winsim/registry/store.h"

#include "winsim/core/text.h"

namespace winsim_detail {
namespace {

constexpr REGSAM kAllKeyRights = KEY_ALL_ACCESS | KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr LSTATUS kBadPathname = 161; // ERROR_BAD_PATHNAME
// Registry handles are small multiples of 4 on Windows; a range of their own keeps a key handle from
// being mistaken for a device set or printer handle of the simulation.
constexpr ULONG_PTR kFirstKeyHandle = 0xA00000;

struct RegistryState {
    std::shared_ptr<RegKey> currentUser;
    std::shared_ptr<RegKey> localMachine;
    struct Handle {
        std::shared_ptr<RegKey> key;
        REGSAM granted;
    };
    SimMap<ULONG_PTR, Handle> handles;
    ULONG_PTR nextHandle = kFirstKeyHandle;
    SimMap<SimWString, REGSAM> limits; // by folded full path
    SimVector<SimWString> opened;
    SimVector<ValueAccessEntry> valueAccesses;

    RegistryState() { MakeRoots(); }
    void MakeRoots() {
        currentUser = MakeShared<RegKey>();
        currentUser->root = HKEY_CURRENT_USER;
        localMachine = MakeShared<RegKey>();
        localMachine->root = HKEY_LOCAL_MACHINE;
    }
};

// Never destroyed: see the note on the failure state.
RegistryState& Registry() {
    static RegistryState* state = new (std::malloc(sizeof(RegistryState))) RegistryState();
    return *state;
}

std::shared_ptr<RegKey> RootKey(HKEY root) {
    if (root == HKEY_CURRENT_USER) {
        return Registry().currentUser;
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return Registry().localMachine;
    }
    return nullptr;
}

SimWString FullPath(const RegKey& key) {
    SimWString path;
    for (const RegKey* level = &key; level->parent != nullptr; level = level->parent) {
        path.insert(0, level->name);
        path.insert(0, 1, u'\\');
    }
    path.insert(0, key.root == HKEY_CURRENT_USER ? u"HKCU" : u"HKLM");
    return path;
}

// The generic rights map to the key rights as the registry's generic mapping does.
REGSAM NormaliseAccess(REGSAM access) {
    REGSAM mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (access & kGenericRead) {
        mapped |= KEY_READ;
    }
    if (access & kGenericWrite) {
        mapped |= KEY_WRITE;
    }
    if (access & kGenericExecute) {
        mapped |= KEY_EXECUTE;
    }
    if (access & kGenericAll) {
        mapped |= KEY_ALL_ACCESS;
    }
    return mapped & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

REGSAM AllowedAccess(const SimWString& fullPath) {
    auto found = Registry().limits.find(Folded(fullPath));
    return found == Registry().limits.end() ? kAllKeyRights | kMaximumAllowed : found->second;
}

// Splits "A\B\C" into its names. A leading backslash is refused with ERROR_BAD_PATHNAME; a trailing one
// and doubled ones inside the path are passed over, as Wine's registry does.
LSTATUS SplitPath(const SimWString& path, SimVector<SimWString>* names) {
    if (!path.empty() && path[0] == u'\\') {
        return kBadPathname;
    }
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == SimWString::npos) {
            end = path.size();
        }
        if (end > start) {
            names->push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(const std::shared_ptr<RegKey>& key, REGSAM granted) {
    RegistryState& state = Registry();
    ULONG_PTR value = state.nextHandle;
    state.nextHandle += 4;
    state.handles[value] = RegistryState::Handle{key, granted};
    state.opened.push_back(FullPath(*key));
    return reinterpret_cast<HKEY>(value);
}

void MarkDeleted(RegKey& key) {
    key.deleted = true;
    for (auto& child : key.subkeys) {
        MarkDeleted(*child.second);
    }
}

// A new, empty subkey `name` of `parent`, in `parent`'s tree.
std::shared_ptr<RegKey> AddSubkey(RegKey& parent, const SimWString& name) {
    std::shared_ptr<RegKey> child = MakeShared<RegKey>();
    child->name = name;
    child->parent = &parent;
    child->root = parent.root;
    parent.subkeys[Folded(name)] = child;
    return child;
}

// Follows `path` down from the key of `root`. A missing key on the way ends the walk with null, or is
// created when `create` is set; an unknown root or an invalid path gives null.
std::shared_ptr<RegKey> WalkToKey(HKEY root, const SimWString& path, bool create) {
    std::shared_ptr<RegKey> key = RootKey(root);
    SimVector<SimWString> names;
    if (!key || SplitPath(path, &names) != ERROR_SUCCESS) {
        return nullptr;
    }
    for (const SimWString& name : names) {
        auto found = key->subkeys.find(Folded(name));
        if (found != key->subkeys.end()) {
            key = found->second;
            continue;
        }
        if (!create) {
            return nullptr;
        }
        key = AddSubkey(*key, name);
    }
    return key;
}

} // namespace

LSTATUS ResolveKeyHandle(HKEY handle, std::shared_ptr<RegKey>* key, REGSAM* granted) {
    if (std::shared_ptr<RegKey> root = RootKey(handle)) {
        *key = root;
        *granted = kAllKeyRights;
        return ERROR_SUCCESS;
    }
    auto found = Registry().handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (found == Registry().handles.end()) {
        return ERROR_INVALID_HANDLE;
    }
    if (found->second.key->deleted) {
        return ERROR_KEY_DELETED;
    }
    *key = found->second.key;
    *granted = found->second.granted;
    return ERROR_SUCCESS;
}

LSTATUS OpenOrCreateKey(HKEY parent, const SimWString& subkey, REGSAM access, bool create, DWORD options,
                        HKEY* result, DWORD* disposition) {
    std::shared_ptr<RegKey> key;
    REGSAM parentGranted = 0;
    // The parent handle needs no rights of its own: only the keys reached through it are checked.
    LSTATUS status = ResolveKeyHandle(parent, &key, &parentGranted);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    SimVector<SimWString> names;
    status = SplitPath(subkey, &names);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    SimWString path = FullPath(*key);
    for (const SimWString& name : names) {
        path += u'\\';
        path += name;
    }
    REGSAM requested = NormaliseAccess(access);
    REGSAM allowed = AllowedAccess(path);
    if (requested & kMaximumAllowed) {
        requested = allowed & ~kMaximumAllowed & KEY_ALL_ACCESS;
    }
    if ((requested & ~allowed) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    bool createdAny = false;
    for (const SimWString& name : names) {
        auto found = key->subkeys.find(Folded(name));
        if (found != key->subkeys.end()) {
            key = found->second;
            continue;
        }
        if (!create) {
            return ERROR_FILE_NOT_FOUND;
        }
        if ((AllowedAccess(FullPath(*key)) & KEY_CREATE_SUB_KEY) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        key = AddSubkey(*key, name);
        key->isVolatile = (options & REG_OPTION_VOLATILE) != 0;
        createdAny = true;
    }
    *result = NewHandle(key, requested);
    if (disposition != nullptr) {
        *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

LSTATUS CloseKeyHandle(HKEY handle) {
    if (RootKey(handle)) {
        return ERROR_SUCCESS; // closing a predefined key is a no-op on Windows
    }
    if (Registry().handles.erase(reinterpret_cast<ULONG_PTR>(handle)) == 0) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

RegValue* FindValue(RegKey& key, const SimWString& name) {
    for (RegValue& value : key.values) {
        if (EqualsIgnoringCase(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

void StoreValue(RegKey& key, const SimWString& name, DWORD type, const BYTE* data, size_t size) {
    RegValue* value = FindValue(key, name);
    if (value == nullptr) {
        key.values.push_back(RegValue{name, type, {}});
        value = &key.values.back();
    }
    value->type = type;
    value->data.assign(data, data + size);
}

bool RemoveValue(RegKey& key, const SimWString& name) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it) {
        if (EqualsIgnoringCase(it->name, name)) {
            key.values.erase(it);
            return true;
        }
    }
    return false;
}

std::shared_ptr<RegKey> FindKey(HKEY root, const SimWString& path) {
    return WalkToKey(root, path, false);
}

std::shared_ptr<RegKey> EnsureKey(HKEY root, const SimWString& path) {
    return WalkToKey(root, path, true);
}

void DeleteKey(RegKey& key) {
    if (key.parent == nullptr) {
        // A root stays; everything below it goes.
        for (auto& child : key.subkeys) {
            MarkDeleted(*child.second);
        }
        key.subkeys.clear();
        key.values.clear();
        return;
    }
    MarkDeleted(key);
    key.parent->subkeys.erase(Folded(key.name));
}

void RestrictAccess(HKEY root, const SimWString& path, REGSAM allowed) {
    SimVector<SimWString> names;
    if (!RootKey(root) || SplitPath(path, &names) != ERROR_SUCCESS) {
        return;
    }
    SimWString full(root == HKEY_CURRENT_USER ? u"HKCU" : u"HKLM");
    for (const SimWString& name : names) {
        full += u'\\';
        full += name;
    }
    Registry().limits[Folded(full)] = NormaliseAccess(allowed);
}

size_t OpenKeyHandleCount() {
    return Registry().handles.size();
}

const SimVector<SimWString>& OpenedKeys() {
    return Registry().opened;
}

void RecordValueAccess(const RegKey& key, const SimWString& name, ValueOperation operation,
                       const RegValue* found, DWORD writtenType) {
    ValueAccessEntry entry;
    entry.keyPath = FullPath(key);
    entry.name = name;
    entry.operation = operation;
    entry.existed = found != nullptr;
    entry.type = operation == ValueOperation::Write ? writtenType : (found != nullptr ? found->type : 0);
    Registry().valueAccesses.push_back(entry);
}

const SimVector<ValueAccessEntry>& ValueAccesses() {
    return Registry().valueAccesses;
}

void ResetRegistry() {
    RegistryState& state = Registry();
    MarkDeleted(*state.currentUser);
    MarkDeleted(*state.localMachine);
    state.MakeRoots();
    state.handles.clear();
    state.limits.clear();
    state.opened.clear();
    state.valueAccesses.clear();
}

} // namespace winsim_detail
