// Debug-help library of the simulation (dbghelp) over elfutils' libdwfl; dbghelp.h says what is
// modelled.
#include "winsim/control/modules.h"
#include "winsim/core/entry.h"
#include "winsim/dbghelp/dbghelp.h"
#include "winsim/kernel/drive_mapping.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/loaded_modules.h"
#include "winsim/kernel/modules.h"
#include "winsim/kernel/process_access.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdwfl.h>
#include <memory>
#include <set>

using namespace winsim_detail;

namespace {

constexpr DWORD kDefaultOptions = SYMOPT_UNDNAME;
DWORD symbolOptions = kDefaultOptions;

using SimStringSet = std::set<SimString, std::less<SimString>, SimAllocator<SimString>>;

// One SymInitialize: the modules it registered, in a libdwfl session, and its search path.
class SymbolHandler {
  public:
    SymbolHandler(Dwfl* session, SimString searchPath)
        : session(session), searchPath(std::move(searchPath)) {}
    ~SymbolHandler() { dwfl_end(session); }
    SymbolHandler(const SymbolHandler&) = delete;
    SymbolHandler& operator=(const SymbolHandler&) = delete;

    Dwfl* const session;
    SimString searchPath;
    // Source file names handed out by SymGetLineFromAddr64, which stay valid until SymCleanup.
    SimStringSet fileNames;
};

using HandlerMap = SimMap<ULONG_PTR, std::shared_ptr<SymbolHandler>>;

HandlerMap& Handlers() {
    static auto* handlers = new (std::malloc(sizeof(HandlerMap))) HandlerMap();
    return *handlers;
}

SymbolHandler* HandlerFor(HANDLE process) {
    auto found = Handlers().find(reinterpret_cast<ULONG_PTR>(process));
    return found == Handlers().end() ? nullptr : found->second.get();
}

SimString DefaultSearchPath() {
    SimString path = ".";
    for (const char* variable : {"_NT_SYMBOL_PATH", "_NT_ALT_SYMBOL_PATH"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr) {
            path += ';';
            path += value;
        }
    }
    return path;
}

// Debug information is read from the modules themselves; separate debug files are not looked for.
int NoSeparateDebugFile(Dwfl_Module*, void**, const char*, GElf_Addr, const char*, const char*, GElf_Word,
                        char**) {
    return -1;
}

const Dwfl_Callbacks* SessionCallbacks() {
    static char* noDebugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = [] {
        Dwfl_Callbacks fields{};
        fields.find_elf = dwfl_linux_proc_find_elf;
        fields.find_debuginfo = NoSeparateDebugFile;
        fields.section_address = dwfl_offline_section_address;
        fields.debuginfo_path = &noDebugInfoPath;
        return fields;
    }();
    return &callbacks;
}

Dwfl* OpenSession(bool registerLoadedModules) {
    Dwfl* session = dwfl_begin(SessionCallbacks());
    if (session == nullptr) {
        return nullptr;
    }
    dwfl_report_begin(session);
    if (registerLoadedModules) {
        for (const LoadedModule& module : LoadedModules()) {
            dwfl_report_elf(session, module.hostPath.c_str(), module.hostPath.c_str(), -1, module.bias,
                            false);
        }
    }
    dwfl_report_end(session, nullptr, nullptr);
    return session;
}

struct FoundSymbol {
    SimString name;
    ULONG64 address = 0;
    ULONG64 size = 0;
    ULONG tag = 0;
};

// The declaration that a definition completes: out-of-line member functions and concrete instances of
// inline functions refer to it, and it lies in the scopes that qualify the name.
Dwarf_Die Declaration(Dwarf_Die die) {
    for (int hop = 0; hop < 4; ++hop) {
        Dwarf_Attribute attribute;
        Dwarf_Die target;
        if ((dwarf_attr(&die, DW_AT_specification, &attribute) == nullptr &&
             dwarf_attr(&die, DW_AT_abstract_origin, &attribute) == nullptr) ||
            dwarf_formref_die(&attribute, &target) == nullptr) {
            break;
        }
        die = target;
    }
    return die;
}

// "Namespace::Class::function", without parameters, as dbghelp names functions from debug information.
SimString QualifiedName(Dwarf_Die* function) {
    Dwarf_Die declaration = Declaration(*function);
    const char* name = dwarf_diename(&declaration);
    if (name == nullptr) {
        return SimString();
    }
    SimString qualified(name);
    Dwarf_Die* scopes = nullptr;
    int count = dwarf_getscopes_die(&declaration, &scopes);
    for (int index = 1; index < count; ++index) {
        int tag = dwarf_tag(&scopes[index]);
        if (tag != DW_TAG_namespace && tag != DW_TAG_class_type && tag != DW_TAG_structure_type &&
            tag != DW_TAG_union_type) {
            continue;
        }
        // Unnamed scopes (anonymous namespaces) add nothing, as in Wine's dbghelp.
        const char* scopeName = dwarf_diename(&scopes[index]);
        if (scopeName != nullptr) {
            qualified = SimString(scopeName) + "::" + qualified;
        }
    }
    std::free(scopes);
    return qualified;
}

// The extent of a function: its low and high pc, or for a function split into several ranges the one
// that holds `pc`. Addresses are the module's own (before the load bias).
bool FunctionExtent(Dwarf_Die* function, Dwarf_Addr pc, Dwarf_Addr* start, Dwarf_Addr* end) {
    if (dwarf_lowpc(function, start) == 0 && dwarf_highpc(function, end) == 0 && *start <= pc && pc < *end) {
        return true;
    }
    Dwarf_Addr base = 0;
    for (ptrdiff_t offset = dwarf_ranges(function, 0, &base, start, end); offset > 0;
         offset = dwarf_ranges(function, offset, &base, start, end)) {
        if (*start <= pc && pc < *end) {
            return true;
        }
    }
    return false;
}

// The function around `address` from the module's debug information. Inlined code belongs to the
// function it was inlined into.
bool FunctionFromDebugInfo(Dwfl_Module* module, Dwarf_Addr address, FoundSymbol* found) {
    Dwarf_Addr bias = 0;
    Dwarf_Die* unit = dwfl_module_addrdie(module, address, &bias);
    if (unit == nullptr) {
        return false;
    }
    Dwarf_Die* scopes = nullptr;
    int count = dwarf_getscopes(unit, address - bias, &scopes);
    bool resolved = false;
    for (int index = 0; index < count && !resolved; ++index) {
        Dwarf_Addr start = 0;
        Dwarf_Addr end = 0;
        if (dwarf_tag(&scopes[index]) != DW_TAG_subprogram ||
            !FunctionExtent(&scopes[index], address - bias, &start, &end)) {
            continue;
        }
        found->name = QualifiedName(&scopes[index]);
        found->address = start + bias;
        found->size = end - start;
        found->tag = SymTagFunction;
        resolved = !found->name.empty();
    }
    std::free(scopes);
    return resolved;
}

SimString Undecorated(const char* name) {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    SimString result(status == 0 && plain != nullptr ? plain : name);
    std::free(plain);
    return result;
}

// The module's own symbol around `address`, for code without debug information.
bool FunctionFromSymbolTable(Dwfl_Module* module, Dwarf_Addr address, FoundSymbol* found) {
    GElf_Off offset = 0;
    GElf_Sym symbol{};
    const char* name = dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
    if (name == nullptr || name[0] == '\0') {
        return false;
    }
    found->name = (symbolOptions & SYMOPT_UNDNAME) != 0 ? Undecorated(name) : SimString(name);
    found->address = address - offset;
    found->size = symbol.st_size;
    found->tag = SymTagPublicSymbol;
    return true;
}

void FillSymbolInfo(const FoundSymbol& found, ULONG64 moduleBase, PSYMBOL_INFO symbol) {
    symbol->TypeIndex = 0;
    symbol->Index = 0;
    symbol->Size = static_cast<ULONG>(found.size);
    symbol->ModBase = moduleBase;
    symbol->Flags = 0;
    symbol->Value = 0;
    symbol->Address = found.address;
    symbol->Register = 0;
    symbol->Scope = 0;
    symbol->Tag = found.tag;
    if (symbol->MaxNameLen > 0) {
        size_t length =
            found.name.size() < symbol->MaxNameLen - 1 ? found.name.size() : symbol->MaxNameLen - 1;
        std::memcpy(symbol->Name, found.name.data(), length);
        symbol->Name[length] = '\0';
        symbol->NameLen = static_cast<ULONG>(length);
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The start of every call on a symbol handler: the injected failure, then the handler of the process
// handle. Whether it was found; if not, *error holds the error to report.
bool HandlerOfCall(const PlatformCall& call, HANDLE process, SymbolHandler** handler, DWORD* error) {
    if (call.Fails(error)) {
        return false;
    }
    *handler = HandlerFor(process);
    *error = *handler != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    return *handler != nullptr;
}

} // namespace

DWORD WINAPI SymGetOptions() {
    PlatformCall call("SymGetOptions");
    return symbolOptions;
}

DWORD WINAPI SymSetOptions(DWORD SymOptions) {
    PlatformCall call("SymSetOptions");
    symbolOptions = SymOptions;
    return symbolOptions;
}

BOOL WINAPI SymInitialize(HANDLE hProcess, PCSTR UserSearchPath, BOOL fInvadeProcess) {
    PlatformCall call("SymInitialize");
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        return Fail(injected);
    }
    if (HandlerFor(hProcess) != nullptr) {
        return TRUE;
    }
    if (fInvadeProcess) {
        // Invading reads the list of loaded modules out of the process's memory.
        DWORD access = 0;
        if (!OwnProcessAccess(hProcess, &access) || (access & PROCESS_VM_READ) == 0 ||
            (access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)) == 0) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
    }
    Dwfl* session = OpenSession(fInvadeProcess != FALSE);
    if (session == nullptr) {
        return Fail(ERROR_OUTOFMEMORY);
    }
    SimString searchPath = UserSearchPath != nullptr ? SimString(UserSearchPath) : DefaultSearchPath();
    Handlers()[reinterpret_cast<ULONG_PTR>(hProcess)] = MakeShared<SymbolHandler>(session, searchPath);
    return TRUE;
}

BOOL WINAPI SymCleanup(HANDLE hProcess) {
    PlatformCall call("SymCleanup");
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        return Fail(injected);
    }
    if (Handlers().erase(reinterpret_cast<ULONG_PTR>(hProcess)) == 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}

BOOL WINAPI SymFromAddr(HANDLE hProcess, DWORD64 Address, PDWORD64 Displacement, PSYMBOL_INFO Symbol) {
    PlatformCall call("SymFromAddr");
    SymbolHandler* handler = nullptr;
    DWORD error = 0;
    if (!HandlerOfCall(call, hProcess, &handler, &error)) {
        return Fail(error);
    }
    if (Symbol == nullptr || Symbol->SizeOfStruct != sizeof(SYMBOL_INFO)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Dwfl_Module* module = dwfl_addrmodule(handler->session, Address);
    LoadedModule loaded{};
    if (module == nullptr || !FindModuleByAddress(Address, &loaded)) {
        return Fail(ERROR_MOD_NOT_FOUND);
    }
    FoundSymbol found;
    if (!FunctionFromDebugInfo(module, Address, &found) &&
        !FunctionFromSymbolTable(module, Address, &found)) {
        return Fail(ERROR_INVALID_ADDRESS);
    }
    FillSymbolInfo(found, loaded.base, Symbol);
    if (Displacement != nullptr) {
        *Displacement = Address - found.address;
    }
    return TRUE;
}

BOOL WINAPI SymGetLineFromAddr64(HANDLE hProcess, DWORD64 qwAddr, PDWORD pdwDisplacement,
                                 PIMAGEHLP_LINE64 Line64) {
    PlatformCall call("SymGetLineFromAddr64");
    SymbolHandler* handler = nullptr;
    DWORD error = 0;
    if (!HandlerOfCall(call, hProcess, &handler, &error)) {
        return Fail(error);
    }
    if (Line64 == nullptr || Line64->SizeOfStruct != sizeof(IMAGEHLP_LINE64)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // dbghelp reads line information only when asked to.
    if ((symbolOptions & SYMOPT_LOAD_LINES) == 0) {
        return Fail(ERROR_INVALID_ADDRESS);
    }
    Dwfl_Module* module = dwfl_addrmodule(handler->session, qwAddr);
    if (module == nullptr) {
        return Fail(ERROR_MOD_NOT_FOUND);
    }
    Dwfl_Line* row = dwfl_module_getsrc(module, qwAddr);
    Dwarf_Addr rowAddress = 0;
    int lineNumber = 0;
    const char* file =
        row == nullptr ? nullptr : dwfl_lineinfo(row, &rowAddress, &lineNumber, nullptr, nullptr, nullptr);
    if (file == nullptr || file[0] == '\0' || lineNumber <= 0) {
        return Fail(ERROR_INVALID_ADDRESS);
    }
    SimString hostPath(file);
    const char* directory = dwfl_line_comp_dir(row);
    if (hostPath[0] != '/' && directory != nullptr) {
        hostPath = SimString(directory) + "/" + hostPath;
    }
    std::string windowsPath = ToWindowsPath(std::string(hostPath.c_str()));
    auto kept = handler->fileNames.insert(SimString(windowsPath.c_str())).first;
    Line64->Key = nullptr;
    Line64->LineNumber = static_cast<DWORD>(lineNumber);
    Line64->FileName = const_cast<PCHAR>(kept->c_str());
    Line64->Address = rowAddress;
    if (pdwDisplacement != nullptr) {
        *pdwDisplacement = static_cast<DWORD>(qwAddr - rowAddress);
    }
    return TRUE;
}

BOOL WINAPI SymGetSearchPath(HANDLE hProcess, PSTR SearchPath, DWORD SearchPathLength) {
    PlatformCall call("SymGetSearchPath");
    SymbolHandler* handler = nullptr;
    DWORD error = 0;
    if (!HandlerOfCall(call, hProcess, &handler, &error)) {
        return Fail(error);
    }
    if (SearchPathLength == 0) {
        return TRUE;
    }
    if (SearchPath == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    size_t length =
        handler->searchPath.size() < SearchPathLength - 1 ? handler->searchPath.size() : SearchPathLength - 1;
    std::memcpy(SearchPath, handler->searchPath.data(), length);
    SearchPath[length] = '\0';
    return TRUE;
}

BOOL WINAPI SymSetSearchPath(HANDLE hProcess, PCSTR SearchPath) {
    PlatformCall call("SymSetSearchPath");
    SymbolHandler* handler = nullptr;
    DWORD error = 0;
    if (!HandlerOfCall(call, hProcess, &handler, &error)) {
        return Fail(error);
    }
    handler->searchPath = SearchPath != nullptr ? SimString(SearchPath) : DefaultSearchPath();
    return TRUE;
}

namespace winsim {

void ResetModulesAndSymbols() {
    ControlCall call;
    Handlers().clear();
    symbolOptions = kDefaultOptions;
    ClearModulePathOverrides();
}

bool HasSymbolHandler(HANDLE process) {
    ControlCall call;
    return HandlerFor(process) != nullptr;
}

size_t SymbolHandlerCount() {
    ControlCall call;
    return Handlers().size();
}

} // namespace winsim
