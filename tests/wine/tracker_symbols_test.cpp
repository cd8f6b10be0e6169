// Call sites named under Wine: the test build vracoins_testhooks.dll (the module's objects and one export
// that leaks a block through the module's operator new) with tracking on; at FreeLibrary the leak record
// on the debugger output and in the text log file names the exporting function, its source file and the
// line of the allocation, resolved by dbghelp from the DLL's own debug information.
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/wine_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace winetest;

namespace {

const wchar_t kTrackerKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";
const wchar_t kNoteKey[] = L"Software\\Orvale\\ZID-Azo";
const char kTestModule[] = "vracoins_testhooks.dll";

typedef void* (*LeakHook)(size_t);
typedef int (*LineHook)();

std::string LogDirectory() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "vracoins_symbol_logs";
}

std::string TestModulePath() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    size_t slash = directory.find_last_of("\\/");
    directory.resize(slash == std::string::npos ? 0 : slash + 1);
    return directory + kTestModule;
}

// The value of key="..." in a record line; empty when the key is missing.
std::string Field(const std::string& record, const std::string& key) {
    const std::string opening = " " + key + "=\"";
    size_t start = record.find(opening);
    if (start == std::string::npos) {
        return "";
    }
    start += opening.size();
    size_t end = record.find('"', start);
    return end == std::string::npos ? "" : record.substr(start, end - start);
}

void RemoveLogFiles(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*.mlk*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((directory + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

std::string ReadTextLog(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*.mlk.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return "";
    }
    FindClose(search);
    std::string text;
    if (FILE* file = std::fopen((directory + "\\" + found.cFileName).c_str(), "rb")) {
        char buffer[4096];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, read);
        }
        std::fclose(file);
    }
    return text;
}

void test_leak_record_names_the_call_site(DWORD mode) {
    char area[96];
    std::snprintf(area, sizeof area, "TrackMemoryAllocation %lu: a leak record names function, file and line",
                  mode);
    CHECK_AREA(area);
    const std::string logDirectory = LogDirectory();
    RemoveLogFiles(logDirectory);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    WriteDword(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryAllocation", mode);
    WriteText(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryLogLocation",
              std::wstring(logDirectory.begin(), logDirectory.end()));

    DebugOutputCapture capture;
    if (!CHECK(capture.IsActive(), "cannot install the vectored exception handler, error %lu",
               GetLastError())) {
        return;
    }
    int callLine = 0;
    {
        HMODULE module = LoadLibraryA(TestModulePath().c_str());
        if (!CHECK(module != nullptr, "LoadLibrary(%s) failed, error %lu", TestModulePath().c_str(),
                   GetLastError())) {
            return;
        }
        // Through void (*)() first: GCC accepts that conversion without -Wcast-function-type.
        auto leak = reinterpret_cast<LeakHook>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "vracoinsTestHook_leak")));
        auto line = reinterpret_cast<LineHook>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "vracoinsTestHook_leakLine")));
        if (CHECK(leak != nullptr && line != nullptr, "the test build lacks its exports")) {
            CHECK(leak(24) != nullptr, "the test build could not allocate");
            callLine = line();
        }
        FreeLibrary(module);
    }
    const std::string output = capture.Text();
    size_t start = output.find("MemoryLeak ");
    if (!CHECK(start != std::string::npos, "expected a leak record, got \"%.1500s\"", output.c_str())) {
        RemoveLogFiles(logDirectory);
        return;
    }
    const std::string record = output.substr(start, output.find("\r\n", start) - start);
    const std::string function = Field(record, "function");
    const std::string file = Field(record, "file");
    const long line = std::strtol(Field(record, "line").c_str(), nullptr, 10);
    CHECK(Field(record, "module") == kTestModule && Field(record, "size") == "24" &&
              Field(record, "release") == "0",
          "expected the 24-byte block of %s, got \"%s\"", kTestModule, record.c_str());
    CHECK(function.find("vracoinsTestHook_leak") != std::string::npos,
          "expected the function vracoinsTestHook_leak, got \"%s\"", function.c_str());
    CHECK(file.size() >= 13 && file.compare(file.size() - 13, 13, "leak_hook.cpp") == 0,
          "expected the source file leak_hook.cpp, got \"%s\"", file.c_str());
    CHECK(line != 0 && line == callLine, "expected line %d, got %ld", callLine, line);
    CHECK(output.find("Total leaked size: 24\n") != std::string::npos &&
              output.find("\r\n********** Memory was leaked **********\r\n") != std::string::npos,
          "expected the leaked total and verdict, got \"%.1500s\"", output.c_str());
    CHECK(capture.Breakpoints() == 0, "expected no breakpoint trap, got %u", capture.Breakpoints());
    const std::string logText = ReadTextLog(logDirectory);
    CHECK(logText.find(record + "\r\n") != std::string::npos,
          "expected the record in the text log file, got \"%.600s\"", logText.c_str());
    const RegistryValue note = ReadValue(HKEY_CURRENT_USER, kNoteKey, L"LeakedModule");
    CHECK(note.Exists() && note.type == REG_BINARY, "expected the LeakedModule note, status %ld",
          note.status);
    // The leaked block's files stay open until the process ends; deleting them is tried all the same.
    RemoveLogFiles(logDirectory);
    DeleteKeyTree(HKEY_CURRENT_USER, kNoteKey);
}

} // namespace

int main() {
    test_leak_record_names_the_call_site(3);
    test_leak_record_names_the_call_site(2);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    return winecheck::finish("tracker_symbols_test");
}
