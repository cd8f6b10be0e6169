// The behaviour checks' world over the host simulation: seeded and read through the simulation's control
// API, with the module loaded by dlopen over it and drive C: on a fresh host directory.
#pragma once

#include "tests/behaviour/behaviour_world.h"

#include <filesystem>

class SimulatedWorld : public BehaviourWorld {
  public:
    SimulatedWorld();
    ~SimulatedWorld() override;

    const char* Name() const override { return "simulation"; }
    void Clear() override;

    StoredValue ReadValue(HKEY root, const WCHAR* path, const WCHAR* name) override;
    LONG WriteValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data,
                    DWORD size) override;
    bool KeyExists(HKEY root, const WCHAR* path) override;
    void DeleteKeyTree(HKEY root, const WCHAR* path) override;

    std::unique_ptr<WorldDevice> AddDevice(const WCHAR* enumerator, const WCHAR* description,
                                           const GUID& setupClass, std::string* why) override;
    int PresentInterfaceIndex(const GUID& interfaceClass, const WideText& instanceId) override;

    const char* AddPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port) override;
    LONG SetPrinterDataText(const WCHAR* printer, const WCHAR* valueName, const WCHAR* text) override;
    std::vector<WideText> PrinterNames() override;
    const char* RenameLimitation() override { return nullptr; }

    const char* LoadModule(ModuleBuild build) override;
    void UnloadModule() override;
    bool ModuleIsMapped() override;
    DWORD CallEntry(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* element,
                    COINSTALLER_CONTEXT_DATA* context) override;
    void* AllocateInModule(size_t size, bool array) override;
    void ReleaseInModule(void* block, bool array) override;
    void* LeakAtKnownLine(size_t size, std::string* sourceFile, int* line) override;
    const char* PlaceSymbolFile(ModuleBuild build, bool present) override;
    void* TestHook(const char* name) override;
    std::string ModulePath() override;
    std::string ProcessPath() override;

    const char* PlantLibrary(const char* fileName) override;
    unsigned PlantedLibraryLoads(const char* fileName) override;
    bool LibraryIsLoaded(const char* fileName) override;

    void AttachDebugger(bool attached) override;
    std::vector<std::string> DebugOutputPieces() override;
    unsigned BreakpointTraps() override;

    std::string FreshLogDirectory() override;
    std::vector<std::string> FilesIn(const std::string& windowsDirectory) override;
    std::string ReadWholeFile(const std::string& windowsPath) override;
    const char* PlantFile(const std::string& windowsPath, const std::string& contents) override;
    const char* PlantLink(LinkKind kind, const std::string& linkPath, const std::string& targetPath) override;
    const char* MakeDirectory(const std::string& windowsDirectory) override;
    const char* DirectoryAccess(const std::string& windowsDirectory, std::string* sddl) override;

  private:
    using EntryProc = DWORD(WINAPI*)(DI_FUNCTION, HDEVINFO, SP_DEVINFO_DATA*, COINSTALLER_CONTEXT_DATA*);
    using AllocateHook = void* (*)(size_t, int);
    using ReleaseHook = void (*)(void*, int);

    std::filesystem::path HostPath(const std::string& windowsPath) const;

    std::filesystem::path drive_; // drive C:
    const char* modulePath_ = nullptr;
    void* module_ = nullptr;
    EntryProc entry_ = nullptr;
    AllocateHook allocate_ = nullptr;
    ReleaseHook release_ = nullptr;
    unsigned logDirectories_ = 0;
};
