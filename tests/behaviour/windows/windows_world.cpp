#include "windows_world.h"

#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/running_on_wine.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>

namespace {

// The system's keys that the checks seed and the module writes, removed between checks.
const WCHAR* const kSystemKey = L"Software\\Orvale";

// A build's file name without its extension.
const char* BuildName(ModuleBuild build) {
    return build == ModuleBuild::Shipped ? "vracoins" : "vracoins_testhooks";
}

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    const size_t slash = directory.find_last_of("\\/");
    return directory.substr(0, slash == std::string::npos ? 0 : slash + 1);
}

// The stand-ins for libraries planted beside the program lie in this subdirectory of the program's, and
// each load of one adds a byte to this file beside it.
const char* const kPlantedDirectory = "planted\\";
const char* const kPlantedLoadsFile = "planted_library_loads.txt";

// Windows' flag that lets a process without the privilege make symbolic links in developer mode.
constexpr DWORD kUnprivilegedSymbolicLink = 0x2;

// Where the build's PDB lies: beside it, where dbghelp looks first.
std::string SymbolFilePath(ModuleBuild build) {
    return ProgramDirectory() + BuildName(build) + ".pdb";
}

// Keeps what failed, with the thread's last error, as the reason a preparation answers, and answers it.
const char* WithLastError(std::string* reason, const std::string& what) {
    *reason = what + ": error " + std::to_string(GetLastError());
    return reason->c_str();
}

// An export as the function type it has; null when the module has none of that name.
template <typename Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class WindowsDevice : public WorldDevice {
  public:
    WindowsDevice(const WCHAR* enumerator, const WCHAR* description, const GUID& setupClass)
        : device_(enumerator, description, setupClass) {}

    bool IsRegistered() const { return device_.IsRegistered(); }
    const std::string& Failure() const { return device_.Failure(); }

    const WideText& InstanceId() const override { return device_.InstanceId(); }
    HDEVINFO Set() const override { return device_.Set(); }
    SP_DEVINFO_DATA* Element() override { return device_.Element(); }
    LONG SetHardwareText(const WCHAR* name, const WCHAR* text) override {
        return device_.SetHardwareText(name, text);
    }
    const char* ExposeInterface(const GUID& interfaceClass) override {
        return device_.ExposeInterface(interfaceClass) ? nullptr : device_.Failure().c_str();
    }
    StoredValue ReadInterfaceValue(const GUID& interfaceClass, const WCHAR* name) override {
        return device_.ReadInterfaceValue(interfaceClass, name);
    }

  private:
    winetest::TestDevice device_;
};

} // namespace

WindowsWorld::WindowsWorld() {
    Clear();
}

WindowsWorld::~WindowsWorld() {
    Clear();
}

const char* WindowsWorld::Name() const {
    return IsWine() ? "wine" : "windows";
}

bool WindowsWorld::IsWine() const {
    return winetest::RunningOnWine();
}

void WindowsWorld::Clear() {
    UnloadModule();
    winetest::DeleteKeyTree(HKEY_CURRENT_USER, kSystemKey);
    winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kSystemKey);
    printers_.clear();
    RemoveLogDirectories();
    RemovePlantedLibraries();
    // Also a symbol file that an earlier run of the program left moved away.
    for (ModuleBuild build : {ModuleBuild::Shipped, ModuleBuild::WithTestHooks}) {
        const std::string path = SymbolFilePath(build);
        if (GetFileAttributesA((path + ".away").c_str()) != INVALID_FILE_ATTRIBUTES) {
            MoveFileExA((path + ".away").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    AttachDebugger(false);
    capture_.Clear();
}

StoredValue WindowsWorld::ReadValue(HKEY root, const WCHAR* path, const WCHAR* name) {
    return winetest::ReadValue(root, path, name);
}

LONG WindowsWorld::WriteValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data,
                              DWORD size) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    return status;
}

bool WindowsWorld::KeyExists(HKEY root, const WCHAR* path) {
    return winetest::KeyExists(root, path);
}

void WindowsWorld::DeleteKeyTree(HKEY root, const WCHAR* path) {
    winetest::DeleteKeyTree(root, path);
}

std::unique_ptr<WorldDevice> WindowsWorld::AddDevice(const WCHAR* enumerator, const WCHAR* description,
                                                     const GUID& setupClass, std::string* why) {
    auto device = std::make_unique<WindowsDevice>(enumerator, description, setupClass);
    if (!device->IsRegistered()) {
        *why = device->Failure();
        return nullptr;
    }
    return device;
}

int WindowsWorld::PresentInterfaceIndex(const GUID& interfaceClass, const WideText& instanceId) {
    return winetest::PresentInterfaceIndex(interfaceClass, instanceId);
}

const char* WindowsWorld::AddPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port) {
    std::unique_ptr<winetest::TestPrinter> printer = winetest::AddTestPrinter(name, driver, port, &reason_);
    if (printer == nullptr) {
        return reason_.c_str();
    }
    printers_.push_back(std::move(printer));
    return nullptr;
}

LONG WindowsWorld::SetPrinterDataText(const WCHAR* printer, const WCHAR* valueName, const WCHAR* text) {
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(const_cast<LPWSTR>(printer), &handle, &defaults)) {
        return static_cast<LONG>(GetLastError());
    }
    const DWORD bytes = static_cast<DWORD>((TextLength(text) + 1) * sizeof(WCHAR));
    const DWORD status = SetPrinterDataW(handle, const_cast<LPWSTR>(valueName), REG_SZ,
                                         reinterpret_cast<LPBYTE>(const_cast<WCHAR*>(text)), bytes);
    ClosePrinter(handle);
    return static_cast<LONG>(status);
}

std::vector<WideText> WindowsWorld::PrinterNames() {
    return winetest::LocalPrinterNames();
}

const char* WindowsWorld::RenameLimitation() {
    if (renameProbe_ < 0) {
        // Asked once, of a queue of its own with its record unchanged.
        std::string why;
        const std::unique_ptr<winetest::TestPrinter> probe =
            winetest::AddTestPrinter(L"Vracoins Rename Probe", L"Example PCL 6 Driver", L"FILE:", &why);
        if (probe == nullptr) {
            reason_ = "cannot add the spooler's rename probe: " + why;
            return reason_.c_str();
        }
        renameProbe_ = winetest::SpoolerRenamesAtLevel4(*probe, &renameError_) ? 1 : 0;
    }
    if (renameProbe_ == 1) {
        return nullptr;
    }
    reason_ = "this spooler refuses SetPrinterW at level 4 (error " + std::to_string(renameError_) +
              "), the level at which queues are renamed";
    return reason_.c_str();
}

const char* WindowsWorld::LoadModule(ModuleBuild build) {
    UnloadModule();
    moduleName_ = std::string(BuildName(build)) + ".dll";
    module_ = LoadLibraryA((ProgramDirectory() + moduleName_).c_str());
    if (module_ == nullptr) {
        return WithLastError(&reason_, "LoadLibrary(" + moduleName_ + ")");
    }
    entry_ = Export<EntryProc>(module_, "VRACoInstallerEntryProc");
    allocate_ = Export<AllocateHook>(module_, "vracoinsTestHook_allocate");
    release_ = Export<ReleaseHook>(module_, "vracoinsTestHook_release");
    return entry_ != nullptr ? nullptr : "the module does not export VRACoInstallerEntryProc";
}

void WindowsWorld::UnloadModule() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
    module_ = nullptr;
    entry_ = nullptr;
    allocate_ = nullptr;
    release_ = nullptr;
}

bool WindowsWorld::ModuleIsMapped() {
    return !moduleName_.empty() && GetModuleHandleA(moduleName_.c_str()) != nullptr;
}

DWORD WindowsWorld::CallEntry(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* element,
                              COINSTALLER_CONTEXT_DATA* context) {
    return entry_ != nullptr ? entry_(function, set, element, context) : ERROR_MOD_NOT_FOUND;
}

void* WindowsWorld::AllocateInModule(size_t size, bool array) {
    return allocate_ != nullptr ? allocate_(size, array ? 1 : 0) : nullptr;
}

void WindowsWorld::ReleaseInModule(void* block, bool array) {
    if (release_ != nullptr) {
        release_(block, array ? 1 : 0);
    }
}

void* WindowsWorld::LeakAtKnownLine(size_t size, std::string* sourceFile, int* line) {
    auto leak = Export<void* (*)(size_t)>(module_, "vracoinsTestHook_leak");
    auto lineOf = Export<int (*)()>(module_, "vracoinsTestHook_leakLine");
    auto fileOf = Export<const char* (*)()>(module_, "vracoinsTestHook_leakFile");
    if (leak == nullptr || lineOf == nullptr || fileOf == nullptr) {
        return nullptr;
    }
    void* block = leak(size);
    *sourceFile = fileOf();
    *line = lineOf();
    return block;
}

const char* WindowsWorld::PlaceSymbolFile(ModuleBuild build, bool present) {
    const std::string path = SymbolFilePath(build);
    const std::string away = path + ".away";
    const std::string& from = present ? away : path;
    const std::string& to = present ? path : away;
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return WithLastError(&reason_, "cannot move " + from + " to " + to);
    }
    return nullptr;
}

void* WindowsWorld::TestHook(const char* name) {
    return module_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
}

std::string WindowsWorld::ModulePath() {
    char path[MAX_PATH] = {};
    const DWORD length = module_ != nullptr ? GetModuleFileNameA(module_, path, MAX_PATH) : 0;
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string WindowsWorld::ProcessPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

const char* WindowsWorld::PlantLibrary(const char* fileName) {
    const std::string planted = ProgramDirectory() + fileName;
    DeleteFileA((ProgramDirectory() + kPlantedLoadsFile).c_str());
    if (!CopyFileA((ProgramDirectory() + kPlantedDirectory + fileName).c_str(), planted.c_str(), TRUE)) {
        return WithLastError(&reason_, "cannot place " + std::string(fileName) + " beside the program");
    }
    plantedLibraries_.push_back(fileName);
    return nullptr;
}

unsigned WindowsWorld::PlantedLibraryLoads(const char*) {
    return static_cast<unsigned>(ReadWholeFile(ProgramDirectory() + kPlantedLoadsFile).size());
}

bool WindowsWorld::LibraryIsLoaded(const char* fileName) {
    return GetModuleHandleA(fileName) != nullptr;
}

void WindowsWorld::RemovePlantedLibraries() {
    for (const std::string& fileName : plantedLibraries_) {
        DeleteFileA((ProgramDirectory() + fileName).c_str());
    }
    plantedLibraries_.clear();
    DeleteFileA((ProgramDirectory() + kPlantedLoadsFile).c_str());
}

void WindowsWorld::AttachDebugger(bool attached) {
    // IsDebuggerPresent reads this flag; the capture's handler plays the debugger that steps over a trap.
    NtCurrentTeb()->ProcessEnvironmentBlock->BeingDebugged = attached ? 1 : 0;
}

std::vector<std::string> WindowsWorld::DebugOutputPieces() {
    return capture_.Pieces();
}

unsigned WindowsWorld::BreakpointTraps() {
    return capture_.Breakpoints();
}

std::string WindowsWorld::FreshLogDirectory() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    // A module unloaded with blocks still live keeps its log files open until the process ends, so their
    // directory cannot be removed: the next name is taken then.
    std::string path;
    for (unsigned number = 1;; ++number) {
        path = std::string(temp) + "vracoins_behaviour_logs" + std::to_string(number);
        if (std::find(logDirectories_.begin(), logDirectories_.end(), path) != logDirectories_.end()) {
            continue;
        }
        for (const std::string& name : FilesIn(path)) {
            DeleteFileA((path + "\\" + name).c_str());
        }
        RemoveDirectoryA(path.c_str());
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            break;
        }
    }
    logDirectories_.push_back(path);
    return path;
}

void WindowsWorld::RemoveLogDirectories() {
    for (const std::string& path : logDirectories_) {
        for (const std::string& name : FilesIn(path)) {
            DeleteFileA((path + "\\" + name).c_str());
        }
        RemoveDirectoryA(path.c_str());
    }
    logDirectories_.clear();
}

std::vector<std::string> WindowsWorld::FilesIn(const std::string& windowsDirectory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((windowsDirectory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string WindowsWorld::ReadWholeFile(const std::string& windowsPath) {
    std::string contents;
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return contents;
    }
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        contents.append(buffer, read);
    }
    CloseHandle(file);
    return contents;
}

const char* WindowsWorld::PlantFile(const std::string& windowsPath, const std::string& contents) {
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return WithLastError(&reason_, "cannot create " + windowsPath);
    }
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    return wrote && written == contents.size() ? nullptr : "the planted file could not be written";
}

const char* WindowsWorld::PlantLink(LinkKind kind, const std::string& linkPath,
                                    const std::string& targetPath) {
    if (kind == LinkKind::Hard) {
        return CreateHardLinkA(linkPath.c_str(), targetPath.c_str(), nullptr)
                   ? nullptr
                   : WithLastError(&reason_, "CreateHardLinkA failed");
    }
    if (!CreateSymbolicLinkA(linkPath.c_str(), targetPath.c_str(), kUnprivilegedSymbolicLink)) {
        return WithLastError(&reason_, "CreateSymbolicLinkA (which needs the privilege or developer mode)");
    }
    // Wine's CreateSymbolicLink answers success and makes nothing.
    const DWORD attributes = GetFileAttributesA(linkPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return "CreateSymbolicLinkA answered success but no symbolic link is there: this system (Wine) makes "
               "no symbolic links";
    }
    return nullptr;
}

const char* WindowsWorld::MakeDirectory(const std::string& windowsDirectory) {
    if (!CreateDirectoryA(windowsDirectory.c_str(), nullptr)) {
        return WithLastError(&reason_, "cannot make " + windowsDirectory);
    }
    return nullptr;
}

const char* WindowsWorld::DirectoryAccess(const std::string& windowsDirectory, std::string* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        GetNamedSecurityInfoA(windowsDirectory.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        reason_ = "GetNamedSecurityInfoA failed with error " + std::to_string(status);
        return reason_.c_str();
    }
    LPSTR text = nullptr;
    const BOOL converted = ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    LocalFree(descriptor);
    if (!converted) {
        return WithLastError(&reason_, "the directory's descriptor could not be put into SDDL");
    }
    *sddl = text;
    LocalFree(text);
    return nullptr;
}
