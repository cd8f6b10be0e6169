#include "tests/wine/support/coinstaller_module.h"

#include <cstdio>

namespace winetest {

static std::string DefaultModulePath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return "vracoins.dll";
    }
    std::string directory(path, length);
    const size_t slash = directory.find_last_of("\\/");
    directory.resize(slash == std::string::npos ? 0 : slash + 1);
    return directory + "vracoins.dll";
}

std::string CoInstallerPath(int argc, char** argv) {
    if (argc <= 1) {
        return DefaultModulePath();
    }
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? std::string(argv[1]) : std::string(full, length);
}

CoInstallerModule::CoInstallerModule(const std::string& path) {
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        char message[MAX_PATH + 64];
        std::snprintf(message, sizeof(message), "LoadLibrary(%s) failed, error %lu", path.c_str(),
                      GetLastError());
        failure = message;
        return;
    }
    // A co-installer export is looked up by its undecorated name, as SetupAPI does from "dll,entry".
    // The detour through void (*)() is the conversion that GCC accepts without -Wcast-function-type.
    entry = reinterpret_cast<EntryProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "VRACoInstallerEntryProc")));
    if (entry == nullptr) {
        char message[MAX_PATH + 96];
        std::snprintf(message, sizeof(message),
                      "GetProcAddress(%s, VRACoInstallerEntryProc) failed, error %lu", path.c_str(),
                      GetLastError());
        failure = message;
    }
}

CoInstallerModule::~CoInstallerModule() {
    if (module != nullptr) {
        FreeLibrary(module);
    }
}

DWORD CoInstallerModule::Call(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA element,
                              bool postProcessing, DWORD installResult,
                              COINSTALLER_CONTEXT_DATA* context) const {
    COINSTALLER_CONTEXT_DATA data = {};
    data.PostProcessing = postProcessing ? TRUE : FALSE;
    data.InstallResult = installResult;
    data.PrivateData = nullptr;
    const DWORD answer = entry(function, set, element, &data);
    if (context != nullptr) {
        *context = data;
    }
    return answer;
}

} // namespace winetest
