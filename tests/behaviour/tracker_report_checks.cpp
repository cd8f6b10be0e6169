// The tracker's final report after a whole installation by the shipped module: with tracking on, in each
// mode, the report on the debugger output is the clean one, piece by piece, and the run leaves no log file
// and no note; with tracking off, the module says nothing at all. The debug-help library that names call
// sites is loaded only with tracking on, from the system directory, never a copy beside the program.
#include "tracker_support.h"

using namespace behaviour;
using namespace tracker;

namespace {

const WCHAR* const kPrinterEnumerator = W("VraReportPrinter");
const WCHAR* const kPrinterDescription = W("Alpha 100 USB Printer");
const WCHAR* const kQueueName = W("Report Queue");
const WCHAR* const kQueueDriver = W("Example PCL 6 Driver");
const WCHAR* const kQueuePort = W("FILE:");

// The log files the tracker would name, wherever they lie in the directory.
std::vector<std::string> TrackerLogFilesIn(BehaviourWorld& world, const std::string& directory) {
    std::vector<std::string> logs;
    for (const std::string& name : world.FilesIn(directory)) {
        if (name.find("_vracoins.dll_") != std::string::npos && name.find(".mlk") != std::string::npos) {
            logs.push_back(name);
        }
    }
    return logs;
}

std::string TemporaryDirectory() {
    char temp[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    std::string directory(temp, length < MAX_PATH ? length : 0);
    if (!directory.empty() && directory.back() == '\\') {
        directory.pop_back();
    }
    return directory;
}

// Both passes of DIF_INSTALLDEVICE for a USB printer whose queue the post pass renames, by the shipped
// module, which is then unloaded. Null when the run took place (`modulePath` names the module;
// `debugHelpLoaded`, if given, whether dbghelp.dll was loaded into the process before the unload), or why
// the world could not be prepared for it.
const char* InstallAndUnload(BehaviourWorld& world, std::string* modulePath,
                             bool* debugHelpLoaded = nullptr) {
    std::string why;
    std::unique_ptr<WorldDevice> printer =
        world.AddDevice(kPrinterEnumerator, kPrinterDescription, names::printerSetupClass, &why);
    EXPECT_TRUE(printer != nullptr) << "cannot register the device: " << why;
    if (printer == nullptr) {
        return "the printer device could not be registered";
    }
    printer->SetHardwareText(names::portName, W("USB001"));
    if (const char* reason = world.AddPrinter(kQueueName, kQueueDriver, kQueuePort)) {
        return reason;
    }
    world.SetPrinterDataText(kQueueName, kQueuePort, W("Alpha 100"));
    world.WriteText(HKEY_CURRENT_USER, names::printSettingsKey, names::originalPrinterName, kQueueName);

    if (const char* reason = world.LoadModule(ModuleBuild::Shipped)) {
        return reason;
    }
    *modulePath = world.ModulePath();
    const DWORD pre = PrePass(world, *printer);
    const DWORD post = PostPass(world, *printer);
    EXPECT_TRUE(pre == names::postProcessingRequired && post == NO_ERROR)
        << Formatted("expected 0xe0000226 then 0, got %#lx then %#lx", static_cast<unsigned long>(pre),
                     static_cast<unsigned long>(post));
    const Pieces early = TrackerPieces(world);
    EXPECT_TRUE(early.empty()) << Formatted("expected nothing on the debugger before the unload, got \"%s\"",
                                            Shown(early).c_str());
    if (debugHelpLoaded != nullptr) {
        *debugHelpLoaded = world.LibraryIsLoaded("dbghelp.dll");
    }
    world.UnloadModule();
    EXPECT_TRUE(!world.ModuleIsMapped()) << "expected the module unmapped after its unload";
    return nullptr;
}

} // namespace

TEST_F(BehaviourCheck, CleanInstallationEndsInTheCleanReportInEveryMode) {
    long counts[5] = {};
    for (unsigned mode = 1; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        world.Clear();
        const std::string logDirectory = world.FreshLogDirectory();
        SwitchTrackingOn(world, mode, logDirectory);
        std::string modulePath;
        SKIP_UNLESS_PREPARED(InstallAndUnload(world, &modulePath));

        // The module's static strings are released before the report, so nothing of it is still live.
        const Pieces report = TrackerPieces(world);
        const long count = ReportedCount(report);
        EXPECT_TRUE(count > 10)
            << "expected the count line with the number of blocks the installation made, got " << count
            << " in \"" << Shown(report) << "\"";
        Pieces expected = ReportHead(world.ProcessPath(), modulePath);
        Append(&expected, {CountLine(static_cast<unsigned long>(count)), cleanVerdict});
        Append(&expected, ReportClosing());
        const std::string difference = FirstDifference(expected, report);
        EXPECT_TRUE(difference.empty()) << "expected the clean report of " << expected.size()
                                        << " pieces, one write each: " << difference;
        EXPECT_TRUE(world.BreakpointTraps() == 0)
            << "expected no breakpoint trap, got " << world.BreakpointTraps();

        const std::vector<std::string> logs = world.FilesIn(logDirectory);
        EXPECT_TRUE(logs.empty()) << "expected no log file after a clean run, found \"" << logs[0] << "\"";
        const std::vector<std::string> tempLogs = TrackerLogFilesIn(world, TemporaryDirectory());
        EXPECT_TRUE(tempLogs.empty())
            << "expected no log file in the temporary directory, found \"" << tempLogs[0] << "\"";
        EXPECT_TRUE(!world.KeyExists(HKEY_CURRENT_USER, names::leakNoteKey))
            << "expected no LeakedModule note after a clean run";
        counts[mode] = count;
    }
    // Every mode tracks the same blocks: the installation's own.
    EXPECT_TRUE(counts[1] == counts[2] && counts[2] == counts[3] && counts[3] == counts[4])
        << Formatted("expected the same count in modes 1 to 4, got %ld, %ld, %ld, %ld", counts[1], counts[2],
                     counts[3], counts[4]);
}

TEST_F(BehaviourCheck, UntrackedModuleSaysNothingFromLoadToUnload) {
    // Without the switches' key, and with the switch at 0.
    for (int switchedOff = 0; switchedOff <= 1; ++switchedOff) {
        world.Clear();
        if (switchedOff == 1) {
            world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, names::trackMemoryAllocation, 0);
        }
        std::string modulePath;
        SKIP_UNLESS_PREPARED(InstallAndUnload(world, &modulePath));
        const Pieces output = TrackerPieces(world);
        EXPECT_TRUE(output.empty()) << Formatted("%s: expected no debugger output, got %u pieces: \"%s\"",
                                                 switchedOff == 1 ? "TrackMemoryAllocation 0" : "no switches",
                                                 static_cast<unsigned>(output.size()), Shown(output).c_str());
        EXPECT_TRUE(world.BreakpointTraps() == 0)
            << Formatted("expected no breakpoint trap, got %u", world.BreakpointTraps());
        EXPECT_TRUE(!world.KeyExists(HKEY_CURRENT_USER, names::leakNoteKey))
            << "expected no LeakedModule note";
    }
}

// A dbghelp.dll beside the program is what a load by the name alone takes first (under Wine, when told to
// prefer a native library, as this check's environment does). With tracking off the module loads no
// dbghelp at all; with tracking on it loads the system directory's while it is loaded, and frees it.
TEST_F(BehaviourCheck, APlantedDebugHelpLibraryIsNeverLoaded) {
    for (int mode = -1; mode <= 4; ++mode) { // -1: no switches at all
        SCOPED_TRACE(Formatted("mode %d", mode));
        world.Clear();
        SKIP_UNLESS_PREPARED(world.PlantLibrary("dbghelp.dll"));
        ASSERT_TRUE(!world.LibraryIsLoaded("dbghelp.dll")) << "dbghelp.dll is loaded before the module";
        if (mode >= 0) {
            SwitchTrackingOn(world, static_cast<DWORD>(mode), world.FreshLogDirectory());
        }
        std::string modulePath;
        bool loadedWithTheModule = false;
        SKIP_UNLESS_PREPARED(InstallAndUnload(world, &modulePath, &loadedWithTheModule));
        EXPECT_EQ(world.PlantedLibraryLoads("dbghelp.dll"), 0u)
            << "loads of the dbghelp.dll beside the program";
        EXPECT_EQ(loadedWithTheModule, mode > 0) << "dbghelp.dll loaded while the module was";
        EXPECT_TRUE(!world.LibraryIsLoaded("dbghelp.dll")) << "dbghelp.dll is still loaded after the unload";
    }
}
