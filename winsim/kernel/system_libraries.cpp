// Libraries loaded at run time (LoadLibraryExW, FreeLibrary) and their accounting; modules.h says what is
// modelled.
#include "winsim/kernel/system_libraries.h"

#include "winsim/control/modules.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/dbghelp/dbghelp.h"
#include "winsim/kernel/debugger.h"
#include "winsim/kernel/last_error.h"
#include "winsim/spooler/spooler.h"

#include <cstring>

using namespace winsim_detail;

namespace {

template <class Function> FARPROC AsExport(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// What the code under test looks up in each pseudo module, by the module's file name.
const struct {
    const char16_t* library;
    const char* name;
    FARPROC address;
} kExports[] = {
    {u"kernel32.dll", "IsDebuggerPresent", AsExport(&IsDebuggerPresent)},
    {u"dbghelp.dll", "SymGetOptions", AsExport(&SymGetOptions)},
    {u"dbghelp.dll", "SymSetOptions", AsExport(&SymSetOptions)},
    {u"dbghelp.dll", "SymInitialize", AsExport(&SymInitialize)},
    {u"dbghelp.dll", "SymCleanup", AsExport(&SymCleanup)},
    {u"dbghelp.dll", "SymFromAddr", AsExport(&SymFromAddr)},
    {u"dbghelp.dll", "SymGetLineFromAddr64", AsExport(&SymGetLineFromAddr64)},
    {u"dbghelp.dll", "SymGetSearchPath", AsExport(&SymGetSearchPath)},
    {u"dbghelp.dll", "SymSetSearchPath", AsExport(&SymSetSearchPath)},
    {u"winspool.drv", "OpenPrinterW", AsExport(&OpenPrinterW)},
    {u"winspool.drv", "ClosePrinter", AsExport(&ClosePrinter)},
    {u"winspool.drv", "GetPrinterDriverW", AsExport(&GetPrinterDriverW)},
    {u"winspool.drv", "GetPrinterW", AsExport(&GetPrinterW)},
    {u"winspool.drv", "GetPrinterDataW", AsExport(&GetPrinterDataW)},
    {u"winspool.drv", "EnumPrintersW", AsExport(&EnumPrintersW)},
    {u"winspool.drv", "SetPrinterW", AsExport(&SetPrinterW)},
};

// The libraries of the system directory that are loaded at run time; none of them is a Known DLL.
const char16_t* const kSystemLibraries[] = {u"dbghelp.dll", u"winspool.drv"};
constexpr size_t kSystemLibraryCount = sizeof(kSystemLibraries) / sizeof(kSystemLibraries[0]);
// Known DLLs are loaded from the system directory whatever the search; of them the simulation has kernel32.
const char16_t* const kKnownDlls[] = {u"kernel32.dll", u"advapi32.dll", u"msvcrt.dll", u"setupapi.dll"};

// Addresses of the simulation that no loaded module starts at serve as handles: one per system library,
// and one per planted library.
constexpr size_t kPlantedLibraryCapacity = 8;
const char systemImages[kSystemLibraryCount][16] = {};
const char plantedImages[kPlantedLibraryCapacity][16] = {};

HMODULE HandleOf(const char* image) {
    return reinterpret_cast<HMODULE>(const_cast<char*>(image));
}

struct PlantedLibrary {
    SimWString folded; // the file name as the loader compares it
    SimString fileName;
    unsigned loads = 0;
};

struct LibraryState {
    SimMap<ULONG_PTR, unsigned> references; // by handle
    SimVector<PlantedLibrary> planted;      // in the order planted; index = image
};

LibraryState& State() {
    static auto* state = new (std::malloc(sizeof(LibraryState))) LibraryState();
    return *state;
}

// The file name as the loader compares it: letter case folded, ".dll" added when it has no extension.
SimWString LibraryName(const SimWString& name) {
    SimWString folded = Folded(name);
    if (folded.find(u'.') == SimWString::npos) {
        folded += u".DLL";
    }
    return folded;
}

bool IsKnownDll(const SimWString& folded) {
    for (const char16_t* known : kKnownDlls) {
        if (Folded(SimWString(known)) == folded) {
            return true;
        }
    }
    return false;
}

int SystemLibraryIndex(const SimWString& folded) {
    for (size_t index = 0; index < kSystemLibraryCount; ++index) {
        if (Folded(SimWString(kSystemLibraries[index])) == folded) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

int PlantedIndex(const SimWString& folded) {
    const SimVector<PlantedLibrary>& planted = State().planted;
    for (size_t index = 0; index < planted.size(); ++index) {
        if (planted[index].folded == folded) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

// Without allocating: this runs inside the code under test's operator new.
bool SameText(const char16_t* left, const char16_t* right) {
    while (*left != 0 && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right;
}

// The system libraries' names are ASCII.
SimString Narrow(const char16_t* text) {
    SimString narrow;
    for (; *text != 0; ++text) {
        narrow.push_back(static_cast<char>(*text));
    }
    return narrow;
}

SimWString NameOf(const std::string& fileName) {
    return LibraryName(FromUtf8Bytes(fileName.data(), fileName.size()));
}

// Which image a handle is: a system library's index, or a planted one's (planted true); false for none.
bool ImageOf(HMODULE handle, size_t* index, bool* planted) {
    for (size_t i = 0; i < kSystemLibraryCount; ++i) {
        if (handle == HandleOf(systemImages[i])) {
            *index = i;
            *planted = false;
            return true;
        }
    }
    for (size_t i = 0; i < kPlantedLibraryCapacity; ++i) {
        if (handle == HandleOf(plantedImages[i])) {
            *index = i;
            *planted = true;
            return true;
        }
    }
    return false;
}

unsigned ReferencesOf(HMODULE handle) {
    auto found = State().references.find(reinterpret_cast<ULONG_PTR>(handle));
    return found == State().references.end() ? 0 : found->second;
}

} // namespace

namespace winsim_detail {

FARPROC ExportOf(const char16_t* library, LPCSTR name) {
    // An ordinal is no name.
    if ((reinterpret_cast<ULONG_PTR>(name) >> 16) == 0) {
        return nullptr;
    }
    for (const auto& entry : kExports) {
        if (SameText(entry.library, library) && std::strcmp(entry.name, name) == 0) {
            return entry.address;
        }
    }
    return nullptr;
}

SimVector<LoadedLibrary> LoadedLibraries() {
    SimVector<LoadedLibrary> loaded;
    for (size_t index = 0; index < kSystemLibraryCount; ++index) {
        if (ReferencesOf(HandleOf(systemImages[index])) > 0) {
            loaded.push_back(LoadedLibrary{HandleOf(systemImages[index]),
                                           "C:\\windows\\system32\\" + Narrow(kSystemLibraries[index])});
        }
    }
    for (size_t index = 0; index < State().planted.size(); ++index) {
        if (ReferencesOf(HandleOf(plantedImages[index])) > 0) {
            loaded.push_back(LoadedLibrary{HandleOf(plantedImages[index]),
                                           ProgramDirectory() + State().planted[index].fileName});
        }
    }
    return loaded;
}

LibraryExport FindLibraryExport(HMODULE library, LPCSTR name, FARPROC* address) {
    size_t index = 0;
    bool planted = false;
    if (!ImageOf(library, &index, &planted)) {
        return LibraryExport::NotALibrary;
    }
    if (ReferencesOf(library) == 0) {
        return LibraryExport::NotLoaded;
    }
    // A planted library is somebody else's: it exports nothing that the simulation knows.
    *address = planted ? nullptr : ExportOf(kSystemLibraries[index], name);
    return *address != nullptr ? LibraryExport::Found : LibraryExport::Missing;
}

void ResetLibraries() {
    State().references.clear();
    State().planted.clear();
}

} // namespace winsim_detail

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    PlatformCall call("LoadLibraryExW");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    if (lpLibFileName == nullptr || hFile != nullptr || (dwFlags & ~LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const SimWString name = LibraryName(FromWide(lpLibFileName));
    if (name.find_first_of(u"\\/:") != SimWString::npos) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (name == Folded(SimWString(u"kernel32.dll"))) {
        return Kernel32Handle();
    }
    // The standard search looks beside the program before the system directory; Known DLLs are never
    // searched for.
    const int planted = PlantedIndex(name);
    HMODULE library = nullptr;
    if ((dwFlags & LOAD_LIBRARY_SEARCH_SYSTEM32) == 0 && planted >= 0 && !IsKnownDll(name)) {
        ++State().planted[static_cast<size_t>(planted)].loads;
        library = HandleOf(plantedImages[planted]);
    } else if (const int system = SystemLibraryIndex(name); system >= 0) {
        library = HandleOf(systemImages[system]);
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++State().references[reinterpret_cast<ULONG_PTR>(library)];
    return library;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    PlatformCall call("FreeLibrary");
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    if (hLibModule == Kernel32Handle()) {
        return TRUE;
    }
    auto found = State().references.find(reinterpret_cast<ULONG_PTR>(hLibModule));
    if (found == State().references.end() || found->second == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (--found->second == 0) {
        State().references.erase(found);
    }
    return TRUE;
}

namespace winsim {

void PlantLibrary(const std::string& fileName) {
    ControlCall call;
    const SimWString name = NameOf(fileName);
    if (PlantedIndex(name) < 0 && State().planted.size() < kPlantedLibraryCapacity) {
        State().planted.push_back(PlantedLibrary{name, SimString(fileName.c_str()), 0});
    }
}

unsigned PlantedLibraryLoadCount(const std::string& fileName) {
    ControlCall call;
    const int index = PlantedIndex(NameOf(fileName));
    return index < 0 ? 0 : State().planted[static_cast<size_t>(index)].loads;
}

unsigned LibraryReferences(const std::string& fileName) {
    ControlCall call;
    const SimWString name = NameOf(fileName);
    unsigned references = 0;
    if (const int system = SystemLibraryIndex(name); system >= 0) {
        references += ReferencesOf(HandleOf(systemImages[system]));
    }
    if (const int planted = PlantedIndex(name); planted >= 0) {
        references += ReferencesOf(HandleOf(plantedImages[planted]));
    }
    return references;
}

size_t LibraryReferenceCount() {
    ControlCall call;
    size_t count = 0;
    for (const auto& held : State().references) {
        count += held.second;
    }
    return count;
}

} // namespace winsim
