#include "simulated_world.h"

#include "winsim/control/all.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::u16string Text(const WCHAR* text) {
    return text != nullptr ? std::u16string(text) : std::u16string();
}

// A device of the simulated service: its set is destroyed when the check is done with it.
class SimulatedDevice : public WorldDevice {
  public:
    explicit SimulatedDevice(const std::u16string& instanceId) : instanceId_(instanceId) {
        element_.cbSize = sizeof(element_);
        set_ = winsim::CreateDeviceSet(instanceId_, &element_);
    }
    ~SimulatedDevice() override {
        SetupDiDestroyDeviceInfoList(set_);
        winsim::AddDevice(instanceId_, false);
    }

    const WideText& InstanceId() const override { return instanceId_; }
    HDEVINFO Set() const override { return set_; }
    SP_DEVINFO_DATA* Element() override { return &element_; }

    LONG SetHardwareText(const WCHAR* name, const WCHAR* text) override {
        winsim::SetStringValue(HKEY_LOCAL_MACHINE,
                               u"System\\CurrentControlSet\\Enum\\" + instanceId_ + u"\\Device Parameters",
                               Text(name), Text(text));
        return ERROR_SUCCESS;
    }

    const char* ExposeInterface(const GUID& interfaceClass) override {
        interfaces_.push_back(Interface{interfaceClass, winsim::AddInterface(instanceId_, interfaceClass)});
        return nullptr;
    }

    StoredValue ReadInterfaceValue(const GUID& interfaceClass, const WCHAR* name) override {
        StoredValue value;
        for (const Interface& exposed : interfaces_) {
            if (std::memcmp(&exposed.interfaceClass, &interfaceClass, sizeof(GUID)) == 0) {
                winsim::Bytes bytes;
                value.status =
                    winsim::GetValue(HKEY_LOCAL_MACHINE, exposed.keyPath, Text(name), &value.type, &bytes)
                        ? ERROR_SUCCESS
                        : ERROR_FILE_NOT_FOUND;
                value.data.assign(bytes.begin(), bytes.end());
            }
        }
        return value;
    }

  private:
    struct Interface {
        GUID interfaceClass;
        std::u16string keyPath;
    };

    std::u16string instanceId_;
    HDEVINFO set_ = nullptr;
    SP_DEVINFO_DATA element_ = {};
    std::vector<Interface> interfaces_;
};

} // namespace

SimulatedWorld::SimulatedWorld() {
    drive_ = std::filesystem::temp_directory_path() / ("behaviour_" + std::to_string(getpid()));
    Clear();
}

SimulatedWorld::~SimulatedWorld() {
    UnloadModule();
    winsim::ResetModulesAndSymbols();
    winsim::ResetKernelServices();
    std::filesystem::remove_all(drive_);
}

void SimulatedWorld::Clear() {
    UnloadModule();
    winsim::Reset();
    winsim::ResetKernelServices();
    winsim::ResetModulesAndSymbols();
    std::filesystem::remove_all(drive_);
    std::filesystem::create_directories(drive_ / "Temp");
    winsim::MapDrive('C', drive_.string());
    winsim::SetTempPath("C:\\Temp\\");
    winsim::ClearDebugOutput();
}

StoredValue SimulatedWorld::ReadValue(HKEY root, const WCHAR* path, const WCHAR* name) {
    StoredValue value;
    winsim::Bytes bytes;
    if (!winsim::KeyExists(root, Text(path))) {
        return value;
    }
    if (winsim::GetValue(root, Text(path), Text(name), &value.type, &bytes)) {
        value.status = ERROR_SUCCESS;
        value.data.assign(bytes.begin(), bytes.end());
    }
    return value;
}

LONG SimulatedWorld::WriteValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data,
                                DWORD size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    winsim::SetValue(root, Text(path), Text(name), type, winsim::Bytes(bytes, bytes + size));
    return ERROR_SUCCESS;
}

bool SimulatedWorld::KeyExists(HKEY root, const WCHAR* path) {
    return winsim::KeyExists(root, Text(path));
}

void SimulatedWorld::DeleteKeyTree(HKEY root, const WCHAR* path) {
    winsim::DeleteKeyTree(root, Text(path));
}

std::unique_ptr<WorldDevice> SimulatedWorld::AddDevice(const WCHAR* enumerator, const WCHAR* description,
                                                       const GUID&, std::string*) {
    const std::u16string instanceId = u"ROOT\\" + Text(enumerator) + u"\\0000";
    winsim::AddDevice(instanceId);
    if (description != nullptr) {
        winsim::SetDeviceStringProperty(instanceId, SPDRP_DEVICEDESC, description);
    }
    return std::make_unique<SimulatedDevice>(instanceId);
}

int SimulatedWorld::PresentInterfaceIndex(const GUID& interfaceClass, const WideText& instanceId) {
    HDEVINFO set =
        SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    int found = -1;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD index = 0;
         found < 0 && SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data); ++index) {
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof(element);
        WCHAR id[256] = {};
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, nullptr, &element) ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            if (SetupDiGetDeviceInstanceIdW(set, &element, id, 256, nullptr) &&
                SameText(id, instanceId.c_str())) {
                found = static_cast<int>(index);
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

const char* SimulatedWorld::AddPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port) {
    winsim::AddPrinter(Text(name), Text(driver), Text(port));
    return nullptr;
}

LONG SimulatedWorld::SetPrinterDataText(const WCHAR* printer, const WCHAR* valueName, const WCHAR* text) {
    winsim::SetPrinterStringData(Text(printer), Text(valueName), Text(text));
    return ERROR_SUCCESS;
}

std::vector<WideText> SimulatedWorld::PrinterNames() {
    return winsim::PrinterNames();
}

const char* SimulatedWorld::LoadModule(ModuleBuild build) {
    UnloadModule();
    modulePath_ = build == ModuleBuild::Shipped ? VRACOINS_MODULE_PATH : VRACOINS_TEST_MODULE_PATH;
    module_ = dlopen(modulePath_, RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        return "dlopen failed";
    }
    entry_ = reinterpret_cast<EntryProc>(dlsym(module_, "VRACoInstallerEntryProc"));
    allocate_ = reinterpret_cast<AllocateHook>(dlsym(module_, "vracoinsTestHook_allocate"));
    release_ = reinterpret_cast<ReleaseHook>(dlsym(module_, "vracoinsTestHook_release"));
    return entry_ != nullptr ? nullptr : "the module does not export VRACoInstallerEntryProc";
}

void SimulatedWorld::UnloadModule() {
    if (module_ != nullptr) {
        dlclose(module_);
    }
    module_ = nullptr;
    entry_ = nullptr;
    allocate_ = nullptr;
    release_ = nullptr;
}

bool SimulatedWorld::ModuleIsMapped() {
    void* handle = modulePath_ != nullptr ? dlopen(modulePath_, RTLD_NOW | RTLD_NOLOAD) : nullptr;
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}

DWORD SimulatedWorld::CallEntry(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* element,
                                COINSTALLER_CONTEXT_DATA* context) {
    return entry_ != nullptr ? entry_(function, set, element, context) : ERROR_MOD_NOT_FOUND;
}

void* SimulatedWorld::AllocateInModule(size_t size, bool array) {
    return allocate_ != nullptr ? allocate_(size, array ? 1 : 0) : nullptr;
}

void SimulatedWorld::ReleaseInModule(void* block, bool array) {
    if (release_ != nullptr) {
        release_(block, array ? 1 : 0);
    }
}

void* SimulatedWorld::LeakAtKnownLine(size_t size, std::string* sourceFile, int* line) {
    auto leak = module_ != nullptr
                    ? reinterpret_cast<void* (*)(size_t)>(dlsym(module_, "vracoinsTestHook_leak"))
                    : nullptr;
    auto lineOf = module_ != nullptr
                      ? reinterpret_cast<int (*)()>(dlsym(module_, "vracoinsTestHook_leakLine"))
                      : nullptr;
    auto fileOf = module_ != nullptr
                      ? reinterpret_cast<const char* (*)()>(dlsym(module_, "vracoinsTestHook_leakFile"))
                      : nullptr;
    if (leak == nullptr || lineOf == nullptr || fileOf == nullptr) {
        return nullptr;
    }
    void* block = leak(size);
    *sourceFile = fileOf();
    *line = lineOf();
    return block;
}

const char* SimulatedWorld::PlaceSymbolFile(ModuleBuild build, bool present) {
    (void)build;
    (void)present;
    return "on the host the module's symbols come from the DWARF inside the shared object itself: there is "
           "no symbol file beside it to move away";
}

void* SimulatedWorld::TestHook(const char* name) {
    return module_ != nullptr ? dlsym(module_, name) : nullptr;
}

std::string SimulatedWorld::ModulePath() {
    HMODULE module = nullptr;
    if (entry_ == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                 reinterpret_cast<LPCSTR>(entry_), &module)) {
        return "";
    }
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string SimulatedWorld::ProcessPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

const char* SimulatedWorld::PlantLibrary(const char* fileName) {
    winsim::PlantLibrary(fileName);
    return nullptr;
}

unsigned SimulatedWorld::PlantedLibraryLoads(const char* fileName) {
    return winsim::PlantedLibraryLoadCount(fileName);
}

bool SimulatedWorld::LibraryIsLoaded(const char* fileName) {
    return winsim::LibraryReferences(fileName) > 0;
}

void SimulatedWorld::AttachDebugger(bool attached) {
    winsim::SetDebuggerPresent(attached);
}

std::vector<std::string> SimulatedWorld::DebugOutputPieces() {
    return winsim::DebugOutputPieces();
}

unsigned SimulatedWorld::BreakpointTraps() {
    return static_cast<unsigned>(winsim::BreakpointTrapCount());
}

std::filesystem::path SimulatedWorld::HostPath(const std::string& windowsPath) const {
    std::string relative = windowsPath.size() > 3 ? windowsPath.substr(3) : std::string();
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return drive_ / relative;
}

std::string SimulatedWorld::FreshLogDirectory() {
    const std::string path = "C:\\Logs" + std::to_string(++logDirectories_);
    std::filesystem::remove_all(HostPath(path));
    return path;
}

std::vector<std::string> SimulatedWorld::FilesIn(const std::string& windowsDirectory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(HostPath(windowsDirectory), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string SimulatedWorld::ReadWholeFile(const std::string& windowsPath) {
    std::ifstream file(HostPath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const char* SimulatedWorld::PlantFile(const std::string& windowsPath, const std::string& contents) {
    const std::filesystem::path path = HostPath(windowsPath);
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        return "the name exists already";
    }
    std::ofstream file(path, std::ios::binary);
    file << contents;
    return file ? nullptr : "the file could not be written";
}

const char* SimulatedWorld::PlantLink(LinkKind kind, const std::string& linkPath,
                                      const std::string& targetPath) {
    std::error_code error;
    if (kind == LinkKind::Hard) {
        std::filesystem::create_hard_link(HostPath(targetPath), HostPath(linkPath), error);
    } else {
        std::filesystem::create_symlink(HostPath(targetPath), HostPath(linkPath), error);
    }
    return error ? "the host could not make the link" : nullptr;
}

const char* SimulatedWorld::MakeDirectory(const std::string& windowsDirectory) {
    std::error_code error;
    return std::filesystem::create_directory(HostPath(windowsDirectory), error)
               ? nullptr
               : "the directory could not be made";
}

const char* SimulatedWorld::DirectoryAccess(const std::string& windowsDirectory, std::string* sddl) {
    // The descriptor the directory was created with through the simulation; none for one made otherwise.
    *sddl = winsim::DirectorySecurity(windowsDirectory);
    return nullptr;
}
