// CDbgHelp over the debug-help library: initialisation and its failures, the handler's end, lookups of
// call sites of this test (function, file and line), the 259/260-character limits of the outputs, and the
// symbol server appended to the search path.
#include "memtrack/symbols.h"

#include "platform/portability.h"
#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <string>

// Call sites that the tests resolve, in a named scope that qualifies their names.
namespace resolver_probe {

struct CallSite {
    DWORD64 address;
    DWORD line;
};

DWORD64 ReturnAddress() {
    return reinterpret_cast<DWORD64>(VRA_RETURN_ADDRESS());
}
// Calls through volatile pointers cannot be inlined: the return address lies in the caller.
DWORD64 (*volatile returnAddress)() = ReturnAddress;

CallSite AllocationSite() {
    return CallSite{returnAddress(), __LINE__};
}
CallSite (*volatile allocationSite)() = AllocationSite;

} // namespace resolver_probe

// Functions with names of exactly 259 and 260 characters: extern "C", so that the name is the identifier.
#define RESOLVER_CAT_(a, b) a##b
#define RESOLVER_CAT(a, b) RESOLVER_CAT_(a, b)
#define RESOLVER_STRING_(a) #a
#define RESOLVER_STRING(a) RESOLVER_STRING_(a)
#define CHARS_10 abcdefghij
#define CHARS_50                                                                                             \
    RESOLVER_CAT(RESOLVER_CAT(RESOLVER_CAT(RESOLVER_CAT(CHARS_10, CHARS_10), CHARS_10), CHARS_10), CHARS_10)
#define CHARS_250                                                                                            \
    RESOLVER_CAT(RESOLVER_CAT(RESOLVER_CAT(RESOLVER_CAT(CHARS_50, CHARS_50), CHARS_50), CHARS_50), CHARS_50)
#define NAME_OF_259 RESOLVER_CAT(CHARS_250, _name_259)
#define NAME_OF_260 RESOLVER_CAT(CHARS_250, _name__260)
static_assert(sizeof(RESOLVER_STRING(NAME_OF_259)) == 259 + 1, "the long name has 259 characters");
static_assert(sizeof(RESOLVER_STRING(NAME_OF_260)) == 260 + 1, "the longer name has 260 characters");

extern "C" DWORD64 NAME_OF_259() {
    return resolver_probe::returnAddress();
}
extern "C" DWORD64 NAME_OF_260() {
    return resolver_probe::returnAddress();
}

namespace {

using resolver_probe::allocationSite;
using resolver_probe::CallSite;

DWORD64 (*volatile nameOf259)() = NAME_OF_259;
DWORD64 (*volatile nameOf260)() = NAME_OF_260;

constexpr size_t symbolTextCapacity = MAX_PATH;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class SymbolResolver : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetModulesAndSymbols();
        processHandlesBefore = winsim::OpenProcessHandleCount();
    }
    void TearDown() override {
        // Ends whatever handler a failed test left behind, as the resolver's destructor does.
        CDbgHelp leftover;
        (void)leftover;
    }
    // The search path of the initialised handler.
    std::string SearchPath() {
        char path[2048] = {};
        EXPECT_TRUE(SymGetSearchPath(symbolProcess, path, sizeof(path))) << "error " << GetLastError();
        return path;
    }

    size_t processHandlesBefore = 0;
    char function[symbolTextCapacity] = "";
    char file[symbolTextCapacity] = "";
    DWORD line = 0;
};

// --- Initialisation ---------------------------------------------------------------------------------------

TEST_F(SymbolResolver, InitializeAddsItsOptionsToThoseInForce) {
    SymSetOptions(SYMOPT_CASE_INSENSITIVE);
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    EXPECT_EQ(static_cast<DWORD>(SYMOPT_CASE_INSENSITIVE | 0x80000016), SymGetOptions())
        << std::hex << "options 0x" << SymGetOptions();
}

TEST_F(SymbolResolver, InitializeInvadesThisProcessThroughAHandleThatMayReadIt) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize()) << "error " << GetLastError();
    ASSERT_NE(nullptr, symbolProcess);
    EXPECT_EQ(static_cast<DWORD>(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ),
              winsim::ProcessHandleAccess(symbolProcess))
        << "access of the handle the handler was set up with";
    EXPECT_TRUE(winsim::HasSymbolHandler(symbolProcess));
    EXPECT_EQ(processHandlesBefore + 1, winsim::OpenProcessHandleCount());
}

TEST_F(SymbolResolver, SecondInitializeReturnsFalseAndKeepsTheFirst) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    HANDLE first = symbolProcess;
    EXPECT_FALSE(resolver.initialize());
    EXPECT_EQ(first, symbolProcess);
    EXPECT_TRUE(winsim::HasSymbolHandler(first));
    EXPECT_EQ(1u, winsim::CallCount("OpenProcess"));
    EXPECT_EQ(1u, winsim::CallCount("SymInitialize"));
    EXPECT_EQ(processHandlesBefore + 1, winsim::OpenProcessHandleCount());
}

TEST_F(SymbolResolver, FailedOpenProcessLeavesTheHandlerUninitialised) {
    winsim::FailCall("OpenProcess", ERROR_ACCESS_DENIED);
    CDbgHelp resolver;
    EXPECT_FALSE(resolver.initialize());
    EXPECT_EQ(nullptr, symbolProcess);
    EXPECT_EQ(0u, winsim::CallCount("SymInitialize"));
}

TEST_F(SymbolResolver, FailedSymInitializeClosesTheProcessHandle) {
    winsim::FailCall("SymInitialize", ERROR_INVALID_PARAMETER);
    CDbgHelp resolver;
    EXPECT_FALSE(resolver.initialize());
    EXPECT_EQ(nullptr, symbolProcess);
    EXPECT_EQ(processHandlesBefore, winsim::OpenProcessHandleCount()) << "the process handle was kept open";
    EXPECT_EQ(0u, winsim::SymbolHandlerCount());
}

TEST_F(SymbolResolver, DestructorEndsTheHandlerAndClosesTheProcessHandle) {
    CDbgHelp* resolver = new CDbgHelp;
    ASSERT_NE(nullptr, resolver);
    ASSERT_TRUE(resolver->initialize());
    HANDLE process = symbolProcess;
    delete resolver;
    EXPECT_EQ(nullptr, symbolProcess);
    EXPECT_FALSE(winsim::HasSymbolHandler(process)) << "SymCleanup was not called";
    EXPECT_EQ(0u, winsim::ProcessHandleAccess(process)) << "the process handle is still open";
    EXPECT_EQ(processHandlesBefore, winsim::OpenProcessHandleCount());
}

TEST_F(SymbolResolver, DestructorOfAnUninitialisedResolverEndsNothing) {
    { CDbgHelp resolver; }
    EXPECT_EQ(0u, winsim::CallCount("SymCleanup"));
    EXPECT_EQ(processHandlesBefore, winsim::OpenProcessHandleCount());
}

TEST_F(SymbolResolver, InitializeAfterTheEndStartsAgain) {
    {
        CDbgHelp first;
        ASSERT_TRUE(first.initialize());
    }
    CDbgHelp second;
    EXPECT_TRUE(second.initialize());
    EXPECT_NE(nullptr, symbolProcess);
}

// --- Lookup ---------------------------------------------------------------------------------------------

TEST_F(SymbolResolver, CallSiteResolvesToFunctionFileAndLine) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    CallSite site = allocationSite();
    EXPECT_TRUE(resolver.lookup(site.address, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_STREQ("resolver_probe::AllocationSite", function);
    EXPECT_TRUE(EndsWith(file, "\\memtrack\\tests\\symbol_resolver_test.cpp")) << "file " << file;
    EXPECT_EQ(site.line, line);
}

TEST_F(SymbolResolver, LookupInitialisesTheHandlerWhenNeeded) {
    CDbgHelp resolver;
    CallSite site = allocationSite();
    EXPECT_TRUE(resolver.lookup(site.address, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_NE(nullptr, symbolProcess);
    EXPECT_EQ(site.line, line);
}

TEST_F(SymbolResolver, LookupThatCannotInitialiseLeavesTheOutputsUntouched) {
    winsim::FailCall("SymInitialize", ERROR_INVALID_PARAMETER);
    CDbgHelp resolver;
    std::strcpy(function, "prepared");
    std::strcpy(file, "prepared");
    line = 77;
    EXPECT_FALSE(resolver.lookup(allocationSite().address, function, symbolTextCapacity, file,
                                 symbolTextCapacity, &line));
    EXPECT_STREQ("prepared", function);
    EXPECT_STREQ("prepared", file);
    EXPECT_EQ(77u, line);
}

TEST_F(SymbolResolver, LookupWithoutOutputBuffersFails) {
    CDbgHelp resolver;
    DWORD64 address = allocationSite().address;
    EXPECT_FALSE(resolver.lookup(address, nullptr, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_FALSE(resolver.lookup(address, function, symbolTextCapacity, nullptr, symbolTextCapacity, &line));
    EXPECT_FALSE(resolver.lookup(address, function, symbolTextCapacity, file, symbolTextCapacity, nullptr));
    EXPECT_EQ(0u, winsim::CallCount("SymFromAddr"));
}

TEST_F(SymbolResolver, AddressWithoutSymbolLeavesFunctionAsPreparedAndFileAndLineEmpty) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    std::strcpy(file, "stale");
    line = 12;
    EXPECT_FALSE(resolver.lookup(0x10, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_STREQ("", function);
    EXPECT_STREQ("", file);
    EXPECT_EQ(0u, line);
}

TEST_F(SymbolResolver, FailedSymFromAddrSkipsTheLineLookup) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    winsim::FailCall("SymFromAddr", ERROR_INVALID_ADDRESS);
    EXPECT_FALSE(resolver.lookup(allocationSite().address, function, symbolTextCapacity, file,
                                 symbolTextCapacity, &line));
    EXPECT_STREQ("", function);
    EXPECT_STREQ("", file);
    EXPECT_EQ(0u, line);
    EXPECT_EQ(0u, winsim::CallCount("SymGetLineFromAddr64"));
}

TEST_F(SymbolResolver, SymbolWithoutLineInformationGivesTheFunctionOnly) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    // The C++ run-time is loaded without its separate debug information: symbols, but no lines.
    DWORD64 terminate = reinterpret_cast<DWORD64>(static_cast<void (*)()>(&std::terminate));
    EXPECT_FALSE(resolver.lookup(terminate, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_STREQ("std::terminate()", function);
    EXPECT_STREQ("", file);
    EXPECT_EQ(0u, line);
}

TEST_F(SymbolResolver, FailedLineLookupGivesTheFunctionOnly) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    winsim::FailCall("SymGetLineFromAddr64", ERROR_INVALID_ADDRESS);
    EXPECT_FALSE(resolver.lookup(allocationSite().address, function, symbolTextCapacity, file,
                                 symbolTextCapacity, &line));
    EXPECT_STREQ("resolver_probe::AllocationSite", function);
    EXPECT_STREQ("", file);
    EXPECT_EQ(0u, line);
}

TEST_F(SymbolResolver, NameOf259CharactersIsCopiedWhole) {
    CDbgHelp resolver;
    DWORD64 address = nameOf259();
    EXPECT_TRUE(resolver.lookup(address, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_EQ(std::string(RESOLVER_STRING(NAME_OF_259)), std::string(function));
    EXPECT_EQ(259u, std::strlen(function));
}

TEST_F(SymbolResolver, NameOf260CharactersLeavesFunctionEmptyButFindsFileAndLine) {
    CDbgHelp resolver;
    DWORD64 address = nameOf260();
    EXPECT_FALSE(resolver.lookup(address, function, symbolTextCapacity, file, symbolTextCapacity, &line));
    EXPECT_STREQ("", function) << "a name that does not fit must not be cut";
    EXPECT_TRUE(EndsWith(file, "\\symbol_resolver_test.cpp")) << "file " << file;
    EXPECT_NE(0u, line);
}

// --- Symbol server --------------------------------------------------------------------------------------

TEST_F(SymbolResolver, SymbolServerIsAppendedToTheSearchPath) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, "C:\\symbols"));
    EXPECT_TRUE(resolver.appendSymbolServerPath());
    std::string path = SearchPath();
    const std::string expectedStart = "C:\\symbols;srv*c:\\localsymbols*\\\\";
    EXPECT_EQ(expectedStart, path.substr(0, expectedStart.size())) << "search path " << path;
    EXPECT_GT(path.size(), expectedStart.size()) << "the share's server and name are missing: " << path;
    EXPECT_EQ(std::string::npos, path.find(';', expectedStart.size()))
        << "one element was appended: " << path;
}

TEST_F(SymbolResolver, AppendWithoutInitialisedHandlerFails) {
    CDbgHelp resolver;
    EXPECT_FALSE(resolver.appendSymbolServerPath());
    EXPECT_EQ(0u, winsim::CallCount("SymGetSearchPath"));
}

TEST_F(SymbolResolver, SearchPathOf600CharactersIsLeftAsItWas) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    std::string longPath(600, 'p');
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, longPath.c_str()));
    EXPECT_FALSE(resolver.appendSymbolServerPath());
    EXPECT_EQ(longPath, SearchPath());
    EXPECT_EQ(1u, winsim::CallCount("SymSetSearchPath")) << "only the test's own SymSetSearchPath may run";
}

TEST_F(SymbolResolver, CombinedPathOf511CharactersFitsAndOf512DoesNot) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, "x"));
    ASSERT_TRUE(resolver.appendSymbolServerPath());
    size_t elementLength = SearchPath().size() - 2;

    std::string fits(511 - 1 - elementLength, 'f');
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, fits.c_str()));
    EXPECT_TRUE(resolver.appendSymbolServerPath()) << "combined path of 511 characters";
    EXPECT_EQ(511u, SearchPath().size());

    std::string tooLong(512 - 1 - elementLength, 'g');
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, tooLong.c_str()));
    EXPECT_FALSE(resolver.appendSymbolServerPath()) << "combined path of 512 characters";
    EXPECT_EQ(tooLong, SearchPath());
}

TEST_F(SymbolResolver, UnreadableSearchPathIsNotExtended) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, "C:\\symbols"));
    winsim::FailCall("SymGetSearchPath", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(resolver.appendSymbolServerPath());
    EXPECT_EQ("C:\\symbols", SearchPath());
}

TEST_F(SymbolResolver, FailedSymSetSearchPathIsReported) {
    CDbgHelp resolver;
    ASSERT_TRUE(resolver.initialize());
    ASSERT_TRUE(SymSetSearchPath(symbolProcess, "C:\\symbols"));
    winsim::FailCall("SymSetSearchPath", ERROR_OUTOFMEMORY);
    EXPECT_FALSE(resolver.appendSymbolServerPath());
    EXPECT_EQ("C:\\symbols", SearchPath());
}

} // namespace
