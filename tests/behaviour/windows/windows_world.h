// The behaviour checks' world on Windows or Wine: devices, printers and registry values made through the
// real services' own API, the module loaded with LoadLibrary from the program's directory, with its PDB
// beside it, the debugger's output and traps caught in-process by a vectored exception handler, and a
// library planted beside the program copied there from the build's planted/ directory.
#pragma once

#include "tests/behaviour/behaviour_world.h"
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/test_printer.h"

class WindowsWorld : public BehaviourWorld {
  public:
    WindowsWorld();
    ~WindowsWorld() override;

    const char* Name() const override;
    bool IsWine() const override;
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
    const char* RenameLimitation() override;

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
    using EntryProc = DWORD(CALLBACK*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
    using AllocateHook = void* (*)(size_t, int);
    using ReleaseHook = void (*)(void*, int);

    void RemoveLogDirectories();
    void RemovePlantedLibraries();

    winetest::DebugOutputCapture capture_;
    // The queues the checks added: each is deleted through its handle, which follows it through a rename,
    // so that Clear deletes the queue under whatever name the module gave it.
    std::vector<std::unique_ptr<winetest::TestPrinter>> printers_;
    std::vector<std::string> logDirectories_;
    // Libraries planted beside the program, by file name.
    std::vector<std::string> plantedLibraries_;
    std::string moduleName_;
    HMODULE module_ = nullptr;
    EntryProc entry_ = nullptr;
    AllocateHook allocate_ = nullptr;
    ReleaseHook release_ = nullptr;
    std::string reason_;
    int renameProbe_ = -1; // unknown, 0 refused, 1 renames
    DWORD renameError_ = ERROR_SUCCESS;
};
