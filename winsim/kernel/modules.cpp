// Modules and process handles of the simulation (kernel32); modules.h says what is modelled.
#include "winsim/control/modules.h"
#include "winsim/core/entry.h"
#include "winsim/core/handle_table.h"
#include "winsim/core/text.h"
#include "winsim/kernel/debugger.h"
#include "winsim/kernel/drive_mapping.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/loaded_modules.h"
#include "winsim/kernel/modules.h"
#include "winsim/kernel/process_access.h"
#include "winsim/kernel/system_libraries.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

using namespace winsim_detail;

namespace {

const HANDLE kCurrentProcessPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const char kKernel32Path[] = "C:\\windows\\system32\\kernel32.dll";

// The pseudo kernel32's handle: an address of the simulation that no loaded module starts at.
const char kernel32Image[16] = {};

std::atomic<size_t> openProcessHandles{0};

class ProcessObject : public KernelObject {
  public:
    explicit ProcessObject(DWORD access) : access_(access) { ++openProcessHandles; }
    ~ProcessObject() override { --openProcessHandles; }
    DWORD Access() const { return access_; }

  private:
    const DWORD access_;
};

SimMap<ULONG_PTR, SimString>& PathOverrides() {
    static auto* overrides =
        new (std::malloc(sizeof(SimMap<ULONG_PTR, SimString>))) SimMap<ULONG_PTR, SimString>();
    return *overrides;
}

struct ModuleName {
    ULONG_PTR handle;
    SimString windowsPath;
};

SimString WindowsPathOf(const LoadedModule& module) {
    auto found = PathOverrides().find(module.base);
    if (found != PathOverrides().end()) {
        return found->second;
    }
    std::string path = ToWindowsPath(std::string(module.hostPath.c_str()));
    return SimString(path.c_str());
}

// Every module by its file name, kernel32 and the libraries loaded at run time last. Caller holds the
// world lock.
SimVector<ModuleName> ModuleNames() {
    SimVector<ModuleName> names;
    for (const LoadedModule& module : LoadedModules()) {
        names.push_back(ModuleName{module.base, WindowsPathOf(module)});
    }
    names.push_back(ModuleName{reinterpret_cast<ULONG_PTR>(Kernel32Handle()), SimString(kKernel32Path)});
    for (const LoadedLibrary& library : LoadedLibraries()) {
        names.push_back(ModuleName{reinterpret_cast<ULONG_PTR>(library.handle), library.windowsPath});
    }
    return names;
}

SimWString Wide(const SimString& text) {
    return FromUtf8Bytes(text.data(), text.size());
}

SimWString AfterLastBackslash(const SimWString& path) {
    size_t slash = path.find_last_of(u'\\');
    return slash == SimWString::npos ? path : path.substr(slash + 1);
}

// A module handle for a name as GetModuleHandle takes it; null for the executable. Null result: no match.
HMODULE FindModuleNamed(const SimWString* name) {
    SimVector<ModuleName> names = ModuleNames();
    if (name == nullptr) {
        return reinterpret_cast<HMODULE>(names.front().handle);
    }
    SimWString wanted = *name;
    if (AfterLastBackslash(wanted).find(u'.') == SimWString::npos) {
        wanted += u".dll";
    }
    bool fullPath = wanted.find(u'\\') != SimWString::npos;
    for (const ModuleName& module : names) {
        SimWString candidate = Wide(module.windowsPath);
        if (EqualsIgnoringCase(fullPath ? candidate : AfterLastBackslash(candidate), wanted)) {
            return reinterpret_cast<HMODULE>(module.handle);
        }
    }
    return nullptr;
}

// The file name of a module handle (null: the executable). Caller holds the world lock.
bool ModulePath(HMODULE hModule, SimString* path) {
    if (hModule == Kernel32Handle()) {
        *path = kKernel32Path;
        return true;
    }
    for (const LoadedLibrary& library : LoadedLibraries()) {
        if (hModule == library.handle) {
            *path = library.windowsPath;
            return true;
        }
    }
    SimVector<LoadedModule> modules = LoadedModules();
    for (const LoadedModule& module : modules) {
        if (hModule == nullptr || module.base == reinterpret_cast<ULONG_PTR>(hModule)) {
            *path = WindowsPathOf(module);
            return true;
        }
    }
    return false;
}

bool IsOrdinal(LPCSTR name) {
    return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0;
}

// A symbol that `module` itself defines (not one of its dependencies, which dlsym would also search).
FARPROC ModuleExport(const LoadedModule& module, bool isExecutable, LPCSTR name) {
    void* library = dlopen(isExecutable ? nullptr : module.hostPath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) {
        return nullptr;
    }
    void* symbol = dlsym(library, name);
    dlclose(library);
    LoadedModule owner{};
    if (symbol == nullptr || !FindModuleByAddress(reinterpret_cast<ULONG_PTR>(symbol), &owner) ||
        owner.base != module.base) {
        return nullptr;
    }
    FARPROC address = nullptr;
    std::memcpy(&address, &symbol, sizeof(address));
    return address;
}

} // namespace

namespace winsim_detail {

HMODULE Kernel32Handle() {
    return reinterpret_cast<HMODULE>(const_cast<char*>(kernel32Image));
}

SimString ProgramDirectory() {
    SimString path = WindowsPathOf(LoadedModules().front());
    size_t slash = path.rfind('\\');
    return slash == SimString::npos ? SimString() : path.substr(0, slash + 1);
}

bool OwnProcessAccess(HANDLE process, DWORD* access) {
    if (process == kCurrentProcessPseudoHandle) {
        *access = PROCESS_ALL_ACCESS;
        return true;
    }
    auto* object = dynamic_cast<ProcessObject*>(LookupHandle(process));
    if (object == nullptr) {
        return false;
    }
    *access = object->Access();
    return true;
}

} // namespace winsim_detail

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    PlatformCall call("GetModuleFileNameA");
    if (call.FailsWithLastError()) {
        return 0;
    }
    SimString path;
    if (!ModulePath(hModule, &path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (nSize == 0 || lpFilename == nullptr) {
        SetLastError(nSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (path.size() < nSize) {
        std::memcpy(lpFilename, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    PlatformCall call("GetModuleHandleW");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    SimWString name = FromWide(lpModuleName);
    HMODULE module = FindModuleNamed(lpModuleName == nullptr ? nullptr : &name);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return module;
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    PlatformCall call("GetModuleHandleExA");
    if (phModule == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    const DWORD pinOrKeep = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if ((dwFlags & pinOrKeep) == pinOrKeep ||
        (dwFlags & ~(pinOrKeep | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
        LoadedModule module{};
        if (FindModuleByAddress(reinterpret_cast<ULONG_PTR>(lpModuleName), &module)) {
            *phModule = reinterpret_cast<HMODULE>(module.base);
        }
    } else {
        SimWString name = FromNarrow(lpModuleName);
        *phModule = FindModuleNamed(lpModuleName == nullptr ? nullptr : &name);
    }
    if (*phModule == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    PlatformCall call("GetProcAddress");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    FARPROC address = nullptr;
    LibraryExport library = FindLibraryExport(hModule, lpProcName, &address);
    if (library == LibraryExport::NotLoaded) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (library != LibraryExport::NotALibrary) {
        // Found, or missing from the library.
    } else if (hModule == Kernel32Handle()) {
        address = ExportOf(u"kernel32.dll", lpProcName);
    } else {
        SimVector<LoadedModule> modules = LoadedModules();
        const LoadedModule* module = nullptr;
        for (const LoadedModule& candidate : modules) {
            if (hModule == nullptr || candidate.base == reinterpret_cast<ULONG_PTR>(hModule)) {
                module = &candidate;
                break;
            }
        }
        if (module == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        if (!IsOrdinal(lpProcName)) {
            address = ModuleExport(*module, module == &modules.front(), lpProcName);
        }
    }
    if (address == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return address;
}

DWORD WINAPI GetCurrentProcessId() {
    PlatformCall call("GetCurrentProcessId");
    return static_cast<DWORD>(getpid());
}

HANDLE WINAPI GetCurrentProcess() {
    PlatformCall call("GetCurrentProcess");
    return kCurrentProcessPseudoHandle;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
    PlatformCall call("OpenProcess");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    if (dwProcessId != static_cast<DWORD>(getpid())) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return NewHandle(new ProcessObject(dwDesiredAccess));
}

namespace winsim {

void OverrideModulePath(HMODULE module, const std::string& windowsPath) {
    ControlCall call;
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(module);
    if (module == nullptr) {
        base = LoadedModules().front().base;
    }
    PathOverrides()[base] = SimString(windowsPath.c_str(), windowsPath.size());
}

void ClearModulePathOverrides() {
    ControlCall call;
    PathOverrides().clear();
}

HMODULE Kernel32Module() {
    return Kernel32Handle();
}

size_t OpenProcessHandleCount() {
    return openProcessHandles.load();
}

DWORD ProcessHandleAccess(HANDLE process) {
    ControlCall call;
    DWORD access = 0;
    return OwnProcessAccess(process, &access) ? access : 0;
}

} // namespace winsim
