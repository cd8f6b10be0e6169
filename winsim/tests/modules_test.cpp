// Modules and process handles of the simulation: module handles are load bases, file names are the
// modules' paths in Wine's form with Windows' truncation rule, kernel32 is a pseudo module with the
// simulation's exports, and only this process can be opened.
#include "simulated_world.h"

#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

class ModulesTest : public SimulatedModulesWorld {};

HMODULE ModuleOfAddress(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

std::string FileNameOf(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void LocalFunction() {}

template <class Function> FARPROC AsExport(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// --- Module handles ------------------------------------------------------------------------------------

TEST_F(ModulesTest, ModuleHandleIsTheLoadBaseThatDladdrReports) {
    Dl_info info{};
    ASSERT_NE(0, dladdr(reinterpret_cast<void*>(&GetModuleFileNameA), &info));
    HMODULE module = ModuleOfAddress(reinterpret_cast<const void*>(&GetModuleFileNameA));
    EXPECT_EQ(info.dli_fbase, static_cast<void*>(module)) << "module handle of an address in the simulation";
}

TEST_F(ModulesTest, AddressInTheExecutableBelongsToTheExecutableModule) {
    HMODULE executable = GetModuleHandleW(nullptr);
    ASSERT_NE(nullptr, executable);
    EXPECT_EQ(executable, ModuleOfAddress(reinterpret_cast<const void*>(&LocalFunction)))
        << "GetModuleHandleExA(FROM_ADDRESS) of a function of the test and GetModuleHandleW(null) differ";
}

TEST_F(ModulesTest, ModuleIsFoundByItsFileNameInAnyLetterCase) {
    HMODULE simulation = ModuleOfAddress(reinterpret_cast<const void*>(&GetModuleFileNameA));
    ASSERT_NE(nullptr, simulation);
    EXPECT_EQ(simulation, GetModuleHandleW(u"libwin32sim.so"));
    EXPECT_EQ(simulation, GetModuleHandleW(u"LIBWIN32SIM.SO"));
    std::string fullPath = FileNameOf(simulation);
    HMODULE byPath = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(0, fullPath.c_str(), &byPath)) << "full path " << fullPath;
    EXPECT_EQ(simulation, byPath);
}

TEST_F(ModulesTest, UnknownModuleNameFailsWithModNotFound) {
    SetLastError(0);
    EXPECT_EQ(nullptr, GetModuleHandleW(u"no_such_module.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(ModulesTest, AddressOutsideEveryModuleFailsAndClearsTheResult) {
    HMODULE module = reinterpret_cast<HMODULE>(&module);
    EXPECT_FALSE(
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(0x10), &module));
    EXPECT_EQ(nullptr, module);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(ModulesTest, ContradictoryFlagsOrMissingOutputAreInvalidParameters) {
    HMODULE module = nullptr;
    EXPECT_FALSE(GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &module));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(GetModuleHandleExA(0, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

// --- File names ------------------------------------------------------------------------------------------

TEST_F(ModulesTest, FileNameIsTheHostPathInWineForm) {
    char hostPath[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", hostPath, sizeof(hostPath) - 1), 0);
    std::string expected = "Z:" + std::string(hostPath);
    for (char& c : expected) {
        c = c == '/' ? '\\' : c;
    }
    EXPECT_EQ(expected, FileNameOf(nullptr)) << "file name of the executable";
    EXPECT_EQ(expected, FileNameOf(GetModuleHandleW(nullptr)));
    EXPECT_TRUE(EndsWith(FileNameOf(ModuleOfAddress(reinterpret_cast<const void*>(&GetModuleFileNameA))),
                         "\\libwin32sim.so"));
}

TEST_F(ModulesTest, PathOf259CharactersFitsA260ByteBuffer) {
    std::string path = "C:\\" + std::string(252, 'a') + ".dll";
    ASSERT_EQ(259u, path.size());
    winsim::OverrideModulePath(nullptr, path);
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof(buffer));
    SetLastError(0);
    EXPECT_EQ(259u, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
    EXPECT_EQ(path, std::string(buffer)) << "the whole path and its terminator";
    EXPECT_EQ(0u, GetLastError());
}

TEST_F(ModulesTest, PathOf260CharactersIsCutTerminatedAndReportedAsInsufficientBuffer) {
    std::string path = "C:\\" + std::string(253, 'b') + ".dll";
    ASSERT_EQ(260u, path.size());
    winsim::OverrideModulePath(GetModuleHandleW(nullptr), path);
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(260u, GetModuleFileNameA(nullptr, buffer, MAX_PATH)) << "a cut path returns the buffer size";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ('\0', buffer[259]);
    EXPECT_EQ(path.substr(0, 259), std::string(buffer));
}

TEST_F(ModulesTest, FileNameOfAnUnknownModuleFails) {
    char buffer[MAX_PATH] = {};
    EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(0x10000), buffer, MAX_PATH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(ModulesTest, InjectedFailureOfGetModuleFileNameA) {
    winsim::FailCall("GetModuleFileNameA", ERROR_ACCESS_DENIED);
    char buffer[MAX_PATH] = {};
    EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// --- Exports -----------------------------------------------------------------------------------------------

TEST_F(ModulesTest, Kernel32IsAPseudoModuleThatExportsIsDebuggerPresent) {
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    ASSERT_NE(nullptr, kernel32);
    EXPECT_EQ(kernel32, GetModuleHandleW(u"KERNEL32")) << "name without extension, other letter case";
    EXPECT_EQ(kernel32, winsim::Kernel32Module());
    EXPECT_EQ("C:\\windows\\system32\\kernel32.dll", FileNameOf(kernel32));
    EXPECT_EQ(AsExport(&IsDebuggerPresent), GetProcAddress(kernel32, "IsDebuggerPresent"));
    EXPECT_EQ(nullptr, GetProcAddress(kernel32, "NoSuchExport"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
}

TEST_F(ModulesTest, ExportsAreLookedUpInTheModuleThatDefinesThem) {
    HMODULE libc = ModuleOfAddress(reinterpret_cast<const void*>(&getpid));
    ASSERT_NE(nullptr, libc);
    EXPECT_EQ(AsExport(&getpid), GetProcAddress(libc, "getpid"));
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(GetModuleHandleW(nullptr), "getpid"))
        << "a dependency's export is not the executable's";
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(reinterpret_cast<HMODULE>(0x10000), "getpid"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

// --- Libraries loaded at run time ------------------------------------------------------------------------

// Where each load by file name comes from: the system directory, or, for a search that does not keep to
// it, a library planted beside the program, unless the name is a Known DLL.
TEST_F(ModulesTest, LibrariesLoadByNameFromTheSystemDirectoryOrFromBesideTheProgram) {
    const struct {
        const char16_t* name;
        DWORD flags;
        const char* fileName; // as GetModuleFileNameA ends, "" when the load fails
        bool planted;
        DWORD error;
    } rows[] = {
        {u"dbghelp.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, "\\system32\\dbghelp.dll", false, 0},
        {u"dbghelp.dll", 0, "\\dbghelp.dll", true, 0},
        {u"WINSPOOL.DRV", 0, "\\system32\\winspool.drv", false, 0},
        {u"kernel32.dll", 0, "\\system32\\kernel32.dll", false, 0},
        {u"nosuch.dll", 0, "", false, ERROR_MOD_NOT_FOUND},
        {u"C:\\windows\\system32\\dbghelp.dll", 0, "", false, ERROR_MOD_NOT_FOUND},
        {u"dbghelp.dll", 0x8 /* LOAD_WITH_ALTERED_SEARCH_PATH */, "", false, ERROR_INVALID_PARAMETER},
    };
    for (const auto& row : rows) {
        winsim::Reset();
        winsim::PlantLibrary("dbghelp.dll");
        winsim::PlantLibrary("kernel32.dll");
        SetLastError(0);
        HMODULE library = LoadLibraryExW(row.name, nullptr, row.flags);
        const std::string what = Utf8(row.name) + " with flags " + std::to_string(row.flags);
        EXPECT_EQ(row.error, GetLastError()) << what;
        EXPECT_TRUE(EndsWith(FileNameOf(library), row.fileName) && (library != nullptr) == (row.error == 0))
            << what << ": loaded " << FileNameOf(library);
        EXPECT_EQ(row.planted ? 1u : 0u, winsim::PlantedLibraryLoadCount("dbghelp.dll")) << what;
        EXPECT_EQ(0u, winsim::PlantedLibraryLoadCount("kernel32.dll"))
            << what << ": a Known DLL is never searched for";
        if (library != nullptr && EndsWith(FileNameOf(library), "dbghelp.dll")) {
            EXPECT_EQ(row.planted ? nullptr : AsExport(&SymInitialize),
                      GetProcAddress(library, "SymInitialize"))
                << what
                << ": the system's library hands out the simulation's function, a planted one nothing";
        }
    }
}

TEST_F(ModulesTest, ALibraryLoadedAtRunTimeIsCountedUntilItsLastReferenceGoes) {
    HMODULE first = LoadLibraryExW(u"winspool.drv", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE second = LoadLibraryExW(u"winspool.drv", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(2u, winsim::LibraryReferences("WinSpool.drv"));
    EXPECT_EQ(first, GetModuleHandleW(u"winspool.drv"));
    EXPECT_EQ(AsExport(&OpenPrinterW), GetProcAddress(first, "OpenPrinterW"));
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(first, GetModuleHandleW(u"winspool.drv")) << "one reference is left";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(0u, winsim::LibraryReferenceCount());
    EXPECT_EQ(nullptr, GetModuleHandleW(u"winspool.drv")) << "no reference is left";
    EXPECT_EQ(nullptr, GetProcAddress(first, "OpenPrinterW"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FreeLibrary(first)) << "a third release";
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    winsim::FailCall("LoadLibraryExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(nullptr, LoadLibraryExW(u"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    HMODULE held = LoadLibraryExW(u"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    winsim::FailCall("FreeLibrary", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(held));
    EXPECT_EQ(1u, winsim::LibraryReferences("dbghelp.dll")) << "a refused release keeps its reference";
    winsim::Reset();
    EXPECT_EQ(0u, winsim::LibraryReferenceCount()) << "Reset forgets the references";
}

// --- Process -----------------------------------------------------------------------------------------------

TEST_F(ModulesTest, CurrentProcessIsThisHostProcess) {
    EXPECT_EQ(static_cast<DWORD>(getpid()), GetCurrentProcessId());
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)), GetCurrentProcess());
}

TEST_F(ModulesTest, OpenedProcessHandleCarriesItsAccessUntilClosed) {
    size_t before = winsim::OpenProcessHandleCount();
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
    ASSERT_NE(nullptr, process);
    EXPECT_EQ(before + 1, winsim::OpenProcessHandleCount());
    EXPECT_EQ(static_cast<DWORD>(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ),
              winsim::ProcessHandleAccess(process));
    EXPECT_TRUE(CloseHandle(process));
    EXPECT_EQ(before, winsim::OpenProcessHandleCount());
    EXPECT_EQ(0u, winsim::ProcessHandleAccess(process)) << "a closed handle names no process";
}

TEST_F(ModulesTest, OtherProcessesCannotBeOpened) {
    EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId() + 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(ModulesTest, InjectedFailureOfOpenProcess) {
    size_t before = winsim::OpenProcessHandleCount();
    winsim::FailCall("OpenProcess", ERROR_ACCESS_DENIED);
    EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(before, winsim::OpenProcessHandleCount());
}

} // namespace
