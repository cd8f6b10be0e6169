// The world that the co-installer's and the tracker's behaviour checks describe and inspect: registry
// values, devices in the installation service's database with their interfaces, print queues, the module
// itself (loaded, called, unloaded), libraries loaded into the process and one planted beside the program,
// the debugger's output and traps, and the tracker's log files, what others put under their names, and
// the access to their directory. One
// implementation drives the host simulation through its control API, the other the real services of
// Windows or Wine through their own API; the checks are written once against this interface.
#pragma once

#include "tests/two_sided/stored_value.h"
#include "tests/two_sided/two_sided_test.h"

#include <memory>
#include <string>
#include <vector>

using WideText = std::basic_string<WCHAR>;

// A registered device of the installation service for the length of a check, removed again when the
// object goes.
class WorldDevice {
  public:
    virtual ~WorldDevice() = default;
    // The identifier as the service reports it (Wine upper-cases the one it was given).
    virtual const WideText& InstanceId() const = 0;
    // The set holding the device, and its element, as the service hands them to a co-installer.
    virtual HDEVINFO Set() const = 0;
    virtual SP_DEVINFO_DATA* Element() = 0;
    // A REG_SZ in the device's hardware key ("...\Enum\<id>\Device Parameters").
    virtual LONG SetHardwareText(const WCHAR* name, const WCHAR* text) = 0;
    // Creates an interface of the class on the device and makes it present; null when done, or why not.
    virtual const char* ExposeInterface(const GUID& interfaceClass) = 0;
    // A value from the registry key of this device's interface of the class.
    virtual StoredValue ReadInterfaceValue(const GUID& interfaceClass, const WCHAR* name) = 0;
};

// Which build of the module to load: the shipped one, or the test build whose extra exports allocate and
// release through the module's own operators.
enum class ModuleBuild { Shipped, WithTestHooks };

// A second name for a file, as someone who can write to a directory can make one.
enum class LinkKind { Hard, Symbolic };

class BehaviourWorld {
  public:
    virtual ~BehaviourWorld() = default;
    virtual const char* Name() const = 0;
    // Wine is the reference where Windows is not at hand, but it lacks a few behaviours of Windows.
    virtual bool IsWine() const { return false; }
    // Unloads the module and removes everything the checks create: the system's keys under
    // HKCU\Software\Orvale and HKLM\SOFTWARE\Orvale, devices, printers, log files; detaches the debugger and
    // forgets its output.
    virtual void Clear() = 0;

    // --- Registry -----------------------------------------------------------------------------------------
    virtual StoredValue ReadValue(HKEY root, const WCHAR* path, const WCHAR* name) = 0;
    // Creates the key when missing; answers the registry's status.
    virtual LONG WriteValue(HKEY root, const WCHAR* path, const WCHAR* name, DWORD type, const void* data,
                            DWORD size) = 0;
    virtual bool KeyExists(HKEY root, const WCHAR* path) = 0;
    // Deletes the key with everything below it; a missing key counts as deleted.
    virtual void DeleteKeyTree(HKEY root, const WCHAR* path) = 0;

    LONG WriteDword(HKEY root, const WCHAR* path, const WCHAR* name, DWORD value) {
        return WriteValue(root, path, name, REG_DWORD, &value, sizeof(value));
    }
    LONG WriteText(HKEY root, const WCHAR* path, const WCHAR* name, const WideText& text) {
        return WriteValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }

    // --- Devices ------------------------------------------------------------------------------------------
    // Registers the root-enumerated device "ROOT\<enumerator>\0000" of the setup class, with the device
    // description when one is given. Null with the reason in `why` when it cannot be registered.
    virtual std::unique_ptr<WorldDevice> AddDevice(const WCHAR* enumerator, const WCHAR* description,
                                                   const GUID& setupClass, std::string* why) = 0;
    // At which index the service enumerates the present interface of the class that belongs to the device;
    // -1 when none does.
    virtual int PresentInterfaceIndex(const GUID& interfaceClass, const WideText& instanceId) = 0;

    // --- Printers -----------------------------------------------------------------------------------------
    // Adds a local print queue; null when done, or why not.
    virtual const char* AddPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port) = 0;
    // Stores printer data (REG_SZ) on the queue.
    virtual LONG SetPrinterDataText(const WCHAR* printer, const WCHAR* valueName, const WCHAR* text) = 0;
    // The names of the local print queues.
    virtual std::vector<WideText> PrinterNames() = 0;
    // Null when the spooler renames a queue through SetPrinterW at level 4, or what it answers instead.
    virtual const char* RenameLimitation() = 0;

    // --- The module ---------------------------------------------------------------------------------------
    // Loads the build as the installation service does; null when done, or why not.
    virtual const char* LoadModule(ModuleBuild build) = 0;
    // Drops the last reference: the module's exit runs, and with it the tracker's final report.
    virtual void UnloadModule() = 0;
    // Whether the module is still mapped into the process.
    virtual bool ModuleIsMapped() = 0;
    // Calls the entry of the loaded module.
    virtual DWORD CallEntry(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* element,
                            COINSTALLER_CONTEXT_DATA* context) = 0;
    // Through the test build's operators: a block of `size` bytes from operator new (or new[]), and its
    // release through operator delete (or delete[]).
    virtual void* AllocateInModule(size_t size, bool array) = 0;
    virtual void ReleaseInModule(void* block, bool array) = 0;
    // Through the test build's operator new, a block of `size` bytes meant to be left live, made at a call
    // site that the build names: its source file as the compiler named it, and its line. Null (and nothing
    // named) when the loaded build has no such site.
    virtual void* LeakAtKnownLine(size_t size, std::string* sourceFile, int* line) = 0;
    // Moves the build's symbol file away from beside it (`present` false), so that a module loaded meanwhile
    // finds no symbols of its own, or back (true); Clear puts it back too. Null when done, or why this side
    // has no such file.
    virtual const char* PlaceSymbolFile(ModuleBuild build, bool present) = 0;
    // An export of the loaded build by name (the test build's vracoinsTestHook_*), or null.
    virtual void* TestHook(const char* name) = 0;
    // As GetModuleFileNameA names the loaded module, and the process.
    virtual std::string ModulePath() = 0;
    virtual std::string ProcessPath() = 0;

    // --- Libraries ----------------------------------------------------------------------------------------
    // Puts a library of this file name in the program's directory, where a load by its name alone looks
    // first: a stand-in that counts its loads and whose functions all fail. Clear takes it away. Null when
    // done, or why this side cannot.
    virtual const char* PlantLibrary(const char* fileName) = 0;
    // How often the library planted under this file name was loaded since it was planted.
    virtual unsigned PlantedLibraryLoads(const char* fileName) = 0;
    // Whether a library of this file name is loaded into the process now.
    virtual bool LibraryIsLoaded(const char* fileName) = 0;

    // --- The debugger -------------------------------------------------------------------------------------
    // What IsDebuggerPresent answers from now on. With a debugger attached, a breakpoint trap is counted and
    // execution goes on after it, as after a debugger's "continue".
    virtual void AttachDebugger(bool attached) = 0;
    // The pieces written with OutputDebugStringA since the last Clear, one per call.
    virtual std::vector<std::string> DebugOutputPieces() = 0;
    virtual unsigned BreakpointTraps() = 0;

    // --- Files --------------------------------------------------------------------------------------------
    // An empty directory for the tracker's log files, as a Windows path without a trailing backslash.
    virtual std::string FreshLogDirectory() = 0;
    // The names of the files in a directory given by its Windows path.
    virtual std::vector<std::string> FilesIn(const std::string& windowsDirectory) = 0;
    // A file's whole contents; empty when it cannot be read.
    virtual std::string ReadWholeFile(const std::string& windowsPath) = 0;
    // A new file of these contents under a name that must not exist yet; null when done, or why not.
    virtual const char* PlantFile(const std::string& windowsPath, const std::string& contents) = 0;
    // A hard or symbolic link `linkPath` to the existing file `targetPath`; null when done, or why this
    // side cannot make one.
    virtual const char* PlantLink(LinkKind kind, const std::string& linkPath,
                                  const std::string& targetPath) = 0;
    // A directory made as anyone makes one, with the access its parent passes on; null when done, or why not.
    virtual const char* MakeDirectory(const std::string& windowsDirectory) = 0;
    // The directory's access control list in SDDL ("D:P(A;OICI;FA;;;SY)..."), as this side keeps it; null
    // when read, or why not.
    virtual const char* DirectoryAccess(const std::string& windowsDirectory, std::string* sddl) = 0;
};

// All of a world's debugger output joined, for messages and searches.
inline std::string JoinedDebugOutput(BehaviourWorld& world) {
    std::string text;
    for (const std::string& piece : world.DebugOutputPieces()) {
        text += piece;
    }
    return text;
}
