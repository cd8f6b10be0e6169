// The final report of the real vracoins.dll under Wine: with tracking on in each mode, a whole installation
// (both passes) and FreeLibrary end in the report on the debugger output, caught in-process: the opening
// banner, the process and module names, the number of blocks the installation made, the "Clean System"
// verdict (the module's static strings are released before the report) and the closing banner. A clean
// run leaves no log file and no "LeakedModule" note, and stops in no breakpoint.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"
#include "tests/wine/wine_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace winetest;

namespace {

const wchar_t kTrackerKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";
const wchar_t kNoteKey[] = L"Software\\Orvale\\ZID-Azo";
const wchar_t kPclDriver[] = L"Example PCL 6 Driver";
const wchar_t kQueueName[] = L"Report Queue";
const wchar_t kQueuePort[] = L"FILE:";
const char kRule[] = "****!!!!****!!!!****!!!!****";
const char kCountPrefix[] = "Total number of allocations tracked: ";

std::string ModulePathOf(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// A directory of its own for the log files, so that a file the module leaves behind is seen.
std::string LogDirectory() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "vracoins_report_logs";
}

std::vector<std::string> FilesIn(const std::string& directory, const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> ReportPieces(const std::string& processPath, const std::string& modulePath,
                                      const std::string& countLine) {
    return {"\r\n",
            kRule,
            " Starting memory allocation tracking reporting ",
            kRule,
            "\r\n",
            "Process Name: ",
            processPath,
            "\r\n",
            "Current Module Name: ",
            modulePath,
            "\r\n",
            countLine,
            "\r\n********** Clean System **********\r\n",
            "\r\n",
            kRule,
            " Completed memory allocation tracking reporting ",
            kRule,
            "\r\n"};
}

// Returns the number of allocations the report gave, or -1.
long test_clean_report(int argc, char** argv, DWORD mode, TestDevice& printer) {
    char area[96];
    std::snprintf(area, sizeof area, "TrackMemoryAllocation %lu: clean installation, clean report", mode);
    CHECK_AREA(area);
    const std::string logDirectory = LogDirectory();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    DeleteKeyTree(HKEY_CURRENT_USER, kNoteKey);
    WriteDword(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryAllocation", mode);
    WriteText(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryLogLocation",
              std::wstring(logDirectory.begin(), logDirectory.end()));
    ForgetCoInstallerState();
    printer.SetHardwareText(kPortNameValue, L"USB001");
    TestPrinter queue(kQueueName, kPclDriver, kQueuePort);
    if (!CHECK(queue.IsAdded(), "cannot add the queue: %s", queue.Failure().c_str())) {
        return -1;
    }
    queue.SetDataText(kQueuePort, L"Alpha 100");
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, kQueueName);

    DebugOutputCapture capture;
    if (!CHECK(capture.IsActive(), "cannot install the vectored exception handler, error %lu",
               GetLastError())) {
        return -1;
    }
    std::string modulePath;
    {
        CoInstallerModule coinstaller(argc, argv);
        if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
            return -1;
        }
        modulePath = ModulePathOf(GetModuleHandleA("vracoins.dll"));
        const DWORD pre = coinstaller.PrePass(printer.Set(), printer.Element());
        const DWORD post = coinstaller.PostPass(printer.Set(), printer.Element());
        CHECK(pre == kPostProcessingRequired && post == NO_ERROR,
              "expected 0xe0000226 then 0, got %#lx then %#lx", pre, post);
        CHECK(capture.Pieces().empty(), "expected nothing on the debugger before the unload, got \"%.300s\"",
              capture.Text().c_str());
    } // FreeLibrary: the module's exit list, the collector's final report included, runs here.
    CHECK(GetModuleHandleA("vracoins.dll") == nullptr, "expected the module unloaded after FreeLibrary");

    const std::vector<std::string>& pieces = capture.Pieces();
    long count = -1;
    std::string countLine;
    for (const std::string& piece : pieces) {
        if (piece.compare(0, sizeof kCountPrefix - 1, kCountPrefix) == 0) {
            countLine = piece;
            count = std::strtol(piece.c_str() + sizeof kCountPrefix - 1, nullptr, 10);
        }
    }
    CHECK(count > 0 && countLine == kCountPrefix + std::to_string(count) + "\n",
          "expected the count line with the number of blocks made, got \"%s\"", countLine.c_str());
    const std::vector<std::string> expected = ReportPieces(ModulePathOf(nullptr), modulePath, countLine);
    bool same = pieces.size() == expected.size();
    for (size_t i = 0; same && i < pieces.size(); ++i) {
        same = pieces[i] == expected[i];
    }
    CHECK(same, "expected the clean report of %u pieces, one write each, got %u pieces: \"%.1500s\"",
          static_cast<unsigned>(expected.size()), static_cast<unsigned>(pieces.size()),
          capture.Text().c_str());
    CHECK(capture.Breakpoints() == 0, "expected no breakpoint trap, got %u", capture.Breakpoints());

    const std::vector<std::string> logs = FilesIn(logDirectory, "*.mlk*");
    CHECK(logs.empty(), "expected no log file after a clean run, found %s",
          logs.empty() ? "" : logs[0].c_str());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::vector<std::string> tempLogs = FilesIn(temp, "*_vracoins.dll_*.mlk*");
    CHECK(tempLogs.empty(), "expected no log file in the temporary directory, found %s",
          tempLogs.empty() ? "" : tempLogs[0].c_str());
    const RegistryValue note = ReadValue(HKEY_CURRENT_USER, kNoteKey, L"LeakedModule");
    CHECK(!note.Exists(), "expected no LeakedModule note after a clean run");
    return count;
}

} // namespace

int main(int argc, char** argv) {
    CHECK_AREA("setting up");
    std::string why;
    if (!CHECK(EnsurePrinterDriver(kPclDriver, &why), "cannot install the printer driver: %s", why.c_str())) {
        return winecheck::finish("tracker_report_test");
    }
    TestDevice printer(L"VraReportPrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return winecheck::finish("tracker_report_test");
    }
    std::vector<long> counts;
    for (DWORD mode = 1; mode <= 4; ++mode) {
        counts.push_back(test_clean_report(argc, argv, mode, printer));
    }
    CHECK_AREA("the count is that of the installation's blocks, whatever the mode");
    CHECK(counts[0] == counts[1] && counts[1] == counts[2] && counts[2] == counts[3],
          "expected the same count in modes 1 to 4, got %ld, %ld, %ld, %ld", counts[0], counts[1], counts[2],
          counts[3]);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    RemoveDirectoryA(LogDirectory().c_str());
    ForgetCoInstallerState();
    return winecheck::finish("tracker_report_test");
}
