// The simulated debug-help library: symbol handlers per process handle, options, search path, and
// addresses of this test resolved to function names and source lines from its own debug information.
#include "simulated_world.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

// Functions whose addresses the tests resolve, in a named scope that qualifies their names.
namespace symbols_probe {

// A code address and the source line it belongs to.
struct CallSite {
    DWORD64 address;
    DWORD line;
};

DWORD64 ReturnAddress() {
    return reinterpret_cast<DWORD64>(VRA_RETURN_ADDRESS());
}
// Calls through volatile pointers cannot be inlined: the return address lies in the caller.
DWORD64 (*volatile returnAddress)() = ReturnAddress;

CallSite KnownFunction() {
    return CallSite{returnAddress(), __LINE__};
}
CallSite (*volatile knownFunction)() = KnownFunction;

struct Widget {
    CallSite Method();
};
CallSite Widget::Method() {
    return CallSite{returnAddress(), __LINE__};
}

} // namespace symbols_probe

namespace {

using symbols_probe::CallSite;
using symbols_probe::knownFunction;

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const DWORD kInvadingAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

struct SymbolBuffer {
    SymbolBuffer(ULONG maxNameLen = MAX_SYM_NAME) {
        std::memset(storage, 0, sizeof(storage));
        info()->SizeOfStruct = sizeof(SYMBOL_INFO);
        info()->MaxNameLen = maxNameLen;
    }
    SYMBOL_INFO* info() { return reinterpret_cast<SYMBOL_INFO*>(storage); }
    alignas(SYMBOL_INFO) unsigned char storage[sizeof(SYMBOL_INFO) + MAX_SYM_NAME];
};

IMAGEHLP_LINE64 EmptyLine() {
    IMAGEHLP_LINE64 line;
    std::memset(&line, 0, sizeof(line));
    line.SizeOfStruct = sizeof(line);
    return line;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

HMODULE ExecutableModule() {
    return GetModuleHandleW(nullptr);
}

class DbgHelp : public SimulatedModulesWorld {
  protected:
    // A symbol handler that has invaded this process, with line information.
    HANDLE InvadedProcess() {
        SymSetOptions(SymGetOptions() | SYMOPT_LOAD_LINES);
        EXPECT_TRUE(SymInitialize(kCurrentProcess, nullptr, TRUE)) << "error " << GetLastError();
        return kCurrentProcess;
    }
};

// --- Symbol handlers --------------------------------------------------------------------------------------

TEST_F(DbgHelp, OptionsStartAsUndecoratedNamesAndAreProcessWide) {
    EXPECT_EQ(static_cast<DWORD>(SYMOPT_UNDNAME), SymGetOptions());
    EXPECT_EQ(static_cast<DWORD>(SYMOPT_LOAD_LINES | SYMOPT_DEBUG),
              SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_DEBUG));
    EXPECT_EQ(static_cast<DWORD>(SYMOPT_LOAD_LINES | SYMOPT_DEBUG), SymGetOptions());
}

TEST_F(DbgHelp, InvadingNeedsAHandleThatMayReadTheProcessMemory) {
    HANDLE queryOnly = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
    ASSERT_NE(nullptr, queryOnly);
    SetLastError(0);
    EXPECT_FALSE(SymInitialize(queryOnly, nullptr, TRUE))
        << "PROCESS_QUERY_INFORMATION alone cannot be invaded";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(winsim::HasSymbolHandler(queryOnly));
    CloseHandle(queryOnly);

    HANDLE reader = OpenProcess(kInvadingAccess, FALSE, GetCurrentProcessId());
    ASSERT_NE(nullptr, reader);
    EXPECT_TRUE(SymInitialize(reader, nullptr, TRUE)) << "error " << GetLastError();
    EXPECT_TRUE(winsim::HasSymbolHandler(reader));
    EXPECT_TRUE(SymCleanup(reader));
    EXPECT_FALSE(winsim::HasSymbolHandler(reader));
    CloseHandle(reader);
}

TEST_F(DbgHelp, SecondInitializationOfAHandleSucceedsAndChangesNothing) {
    ASSERT_TRUE(SymInitialize(kCurrentProcess, "first", FALSE));
    EXPECT_TRUE(SymInitialize(kCurrentProcess, "second", TRUE));
    EXPECT_EQ(1u, winsim::SymbolHandlerCount());
    char path[64] = {};
    ASSERT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_STREQ("first", path) << "the second SymInitialize must not replace the handler";
}

TEST_F(DbgHelp, CleanupOfAHandleWithoutHandlerFails) {
    SetLastError(0);
    EXPECT_FALSE(SymCleanup(kCurrentProcess));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(DbgHelp, InjectedFailureOfSymInitializeLeavesNoHandler) {
    winsim::FailCall("SymInitialize", ERROR_OUTOFMEMORY);
    EXPECT_FALSE(SymInitialize(kCurrentProcess, nullptr, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), GetLastError());
    EXPECT_EQ(0u, winsim::SymbolHandlerCount());
}

// --- Search path ------------------------------------------------------------------------------------------

TEST_F(DbgHelp, DefaultSearchPathIsTheCurrentDirectoryAndTheSymbolPathVariables) {
    const char* saved = std::getenv("_NT_SYMBOL_PATH");
    std::string savedValue = saved != nullptr ? saved : "";
    setenv("_NT_SYMBOL_PATH", "srv*c:\\cache*\\\\server\\share", 1);
    unsetenv("_NT_ALT_SYMBOL_PATH");
    ASSERT_TRUE(SymInitialize(kCurrentProcess, nullptr, FALSE));
    char path[128] = {};
    EXPECT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_STREQ(".;srv*c:\\cache*\\\\server\\share", path);
    if (saved != nullptr) {
        setenv("_NT_SYMBOL_PATH", savedValue.c_str(), 1);
    } else {
        unsetenv("_NT_SYMBOL_PATH");
    }
}

TEST_F(DbgHelp, SearchPathIsReplacedAndRestoredToTheDefault) {
    ASSERT_TRUE(SymInitialize(kCurrentProcess, "C:\\symbols", FALSE));
    char path[128] = {};
    ASSERT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_STREQ("C:\\symbols", path);
    EXPECT_TRUE(SymSetSearchPath(kCurrentProcess, "C:\\symbols;srv*C:\\cache*\\\\server\\share"));
    ASSERT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_STREQ("C:\\symbols;srv*C:\\cache*\\\\server\\share", path);
    EXPECT_TRUE(SymSetSearchPath(kCurrentProcess, nullptr));
    ASSERT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_EQ('.', path[0]) << "default path: " << path;
}

TEST_F(DbgHelp, LongSearchPathIsCutToTheBuffer) {
    std::string longPath(600, 'p');
    ASSERT_TRUE(SymInitialize(kCurrentProcess, longPath.c_str(), FALSE));
    char path[512];
    std::memset(path, 'x', sizeof(path));
    EXPECT_TRUE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_EQ(longPath.substr(0, 511), std::string(path));
}

TEST_F(DbgHelp, SearchPathOfAHandleWithoutHandlerFails) {
    char path[16] = {};
    EXPECT_FALSE(SymGetSearchPath(kCurrentProcess, path, sizeof(path)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(SymSetSearchPath(kCurrentProcess, "x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// --- Symbols
// ------------------------------------------------------------------------------------------------

TEST_F(DbgHelp, AddressInsideAFunctionResolvesToItsNameStartAndModule) {
    HANDLE process = InvadedProcess();
    CallSite site = knownFunction();
    SymbolBuffer symbol;
    DWORD64 displacement = 0;
    ASSERT_TRUE(SymFromAddr(process, site.address, &displacement, symbol.info()))
        << "error " << GetLastError();
    EXPECT_STREQ("symbols_probe::KnownFunction", symbol.info()->Name);
    EXPECT_EQ(std::strlen("symbols_probe::KnownFunction"), symbol.info()->NameLen);
    EXPECT_EQ(reinterpret_cast<DWORD64>(&symbols_probe::KnownFunction), symbol.info()->Address);
    EXPECT_EQ(site.address - symbol.info()->Address, displacement);
    EXPECT_GT(symbol.info()->Size, displacement) << "the address lies inside the function";
    EXPECT_EQ(reinterpret_cast<ULONG64>(ExecutableModule()), symbol.info()->ModBase);
    EXPECT_EQ(static_cast<ULONG>(SymTagFunction), symbol.info()->Tag);
}

TEST_F(DbgHelp, MemberFunctionNameIsQualifiedByItsScopesWithoutParameters) {
    HANDLE process = InvadedProcess();
    symbols_probe::Widget widget;
    CallSite site = widget.Method();
    SymbolBuffer symbol;
    ASSERT_TRUE(SymFromAddr(process, site.address, nullptr, symbol.info())) << "error " << GetLastError();
    EXPECT_STREQ("symbols_probe::Widget::Method", symbol.info()->Name);
}

CallSite FunctionInAnAnonymousNamespace() {
    return CallSite{symbols_probe::returnAddress(), __LINE__};
}
CallSite (*volatile functionInAnAnonymousNamespace)() = FunctionInAnAnonymousNamespace;

TEST_F(DbgHelp, AnonymousNamespaceDoesNotQualifyTheName) {
    HANDLE process = InvadedProcess();
    SymbolBuffer symbol;
    ASSERT_TRUE(SymFromAddr(process, functionInAnAnonymousNamespace().address, nullptr, symbol.info()));
    EXPECT_STREQ("FunctionInAnAnonymousNamespace", symbol.info()->Name);
}

TEST_F(DbgHelp, NameIsCutToMaxNameLenLessOne) {
    HANDLE process = InvadedProcess();
    SymbolBuffer symbol(6);
    ASSERT_TRUE(SymFromAddr(process, knownFunction().address, nullptr, symbol.info()));
    EXPECT_STREQ("symbo", symbol.info()->Name);
    EXPECT_EQ(5u, symbol.info()->NameLen);
}

// The C++ run-time is loaded without its separate debug information: it has symbols, but no lines.
DWORD64 TerminateAddress() {
    return reinterpret_cast<DWORD64>(static_cast<void (*)()>(&std::terminate));
}

TEST_F(DbgHelp, CodeWithoutDebugInformationResolvesToTheModuleSymbol) {
    HANDLE process = InvadedProcess();
    SymbolBuffer symbol;
    DWORD64 displacement = 1;
    ASSERT_TRUE(SymFromAddr(process, TerminateAddress(), &displacement, symbol.info()))
        << "error " << GetLastError();
    EXPECT_STREQ("std::terminate()", symbol.info()->Name) << "undecorated, as SYMOPT_UNDNAME asks";
    EXPECT_EQ(static_cast<ULONG>(SymTagPublicSymbol), symbol.info()->Tag);
    EXPECT_EQ(0u, displacement);
}

TEST_F(DbgHelp, ModuleSymbolsAreDecoratedWithoutSymoptUndname) {
    HANDLE process = InvadedProcess();
    SymSetOptions(SymGetOptions() & ~SYMOPT_UNDNAME);
    SymbolBuffer symbol;
    ASSERT_TRUE(SymFromAddr(process, TerminateAddress(), nullptr, symbol.info()));
    EXPECT_STREQ("_ZSt9terminatev", symbol.info()->Name);
}

TEST_F(DbgHelp, AddressOutsideEveryModuleIsNotFound) {
    HANDLE process = InvadedProcess();
    SymbolBuffer symbol;
    EXPECT_FALSE(SymFromAddr(process, 0x10, nullptr, symbol.info()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(DbgHelp, HandlerThatDidNotInvadeKnowsNoModules) {
    ASSERT_TRUE(SymInitialize(kCurrentProcess, nullptr, FALSE));
    SymbolBuffer symbol;
    EXPECT_FALSE(SymFromAddr(kCurrentProcess, knownFunction().address, nullptr, symbol.info()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(DbgHelp, SymbolRecordOfAnotherSizeIsRefused) {
    HANDLE process = InvadedProcess();
    SymbolBuffer symbol;
    symbol.info()->SizeOfStruct = 80;
    EXPECT_FALSE(SymFromAddr(process, knownFunction().address, nullptr, symbol.info()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(DbgHelp, LookupOnAHandleWithoutHandlerFails) {
    SymbolBuffer symbol;
    EXPECT_FALSE(SymFromAddr(kCurrentProcess, knownFunction().address, nullptr, symbol.info()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// --- Lines
// --------------------------------------------------------------------------------------------------

TEST_F(DbgHelp, AddressResolvesToTheSourceLineOfThisFileInWineForm) {
    HANDLE process = InvadedProcess();
    CallSite site = knownFunction();
    IMAGEHLP_LINE64 line = EmptyLine();
    DWORD displacement = 0xFFFFFFFF;
    ASSERT_TRUE(SymGetLineFromAddr64(process, site.address, &displacement, &line))
        << "error " << GetLastError();
    EXPECT_EQ(site.line, line.LineNumber);
    ASSERT_NE(nullptr, line.FileName);
    std::string file = line.FileName;
    EXPECT_EQ("Z:\\", file.substr(0, 3)) << file;
    EXPECT_TRUE(EndsWith(file, "\\winsim\\tests\\dbghelp_test.cpp")) << file;
    EXPECT_LE(line.Address, site.address);
    EXPECT_EQ(site.address - line.Address, displacement);
}

TEST_F(DbgHelp, LinesAreReportedOnlyWithSymoptLoadLines) {
    HANDLE process = InvadedProcess();
    SymSetOptions(SymGetOptions() & ~SYMOPT_LOAD_LINES);
    IMAGEHLP_LINE64 line = EmptyLine();
    SetLastError(0);
    EXPECT_FALSE(SymGetLineFromAddr64(process, knownFunction().address, nullptr, &line));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), GetLastError());
    EXPECT_EQ(nullptr, line.FileName);
}

TEST_F(DbgHelp, CodeWithoutLineInformationHasNoLine) {
    HANDLE process = InvadedProcess();
    IMAGEHLP_LINE64 line = EmptyLine();
    EXPECT_FALSE(SymGetLineFromAddr64(process, TerminateAddress(), nullptr, &line));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), GetLastError());
}

TEST_F(DbgHelp, FileNameStaysValidUntilCleanup) {
    HANDLE process = InvadedProcess();
    IMAGEHLP_LINE64 first = EmptyLine();
    ASSERT_TRUE(SymGetLineFromAddr64(process, knownFunction().address, nullptr, &first));
    std::string firstName = first.FileName;
    symbols_probe::Widget widget;
    IMAGEHLP_LINE64 second = EmptyLine();
    ASSERT_TRUE(SymGetLineFromAddr64(process, widget.Method().address, nullptr, &second));
    EXPECT_EQ(firstName, std::string(first.FileName)) << "an earlier FileName was overwritten";
}

TEST_F(DbgHelp, LineRecordOfAnotherSizeIsRefused) {
    HANDLE process = InvadedProcess();
    IMAGEHLP_LINE64 line = EmptyLine();
    line.SizeOfStruct = 32;
    EXPECT_FALSE(SymGetLineFromAddr64(process, knownFunction().address, nullptr, &line));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

} // namespace
