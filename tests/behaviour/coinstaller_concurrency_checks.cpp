// The co-installer entry called on several threads at once against one registry, as installations of
// several printers may overlap: every pass answers as it does alone, the module neither crashes nor
// leaks, and the registry is left whole, with InstallContext either 2 or gone and each companion's
// PortName one of the ports that were bound.
#include "tracker_support.h"
#include "worker_threads.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace behaviour;
using namespace tracker;

namespace {

constexpr int kThreads = 8;
constexpr int kDevices = 4; // two threads share each device
constexpr int kRoundsPerThread = 12;

const WCHAR* const kEnumerators[kDevices] = {W("VraConcurrentPrinterA"), W("VraConcurrentPrinterB"),
                                             W("VraConcurrentPrinterC"), W("VraConcurrentPrinterD")};
// Two printers on USB ports, whose pre passes bind a companion, and two on ports that bind nothing.
const WCHAR* const kPorts[kDevices] = {W("USB001"), W("USB002"), W("LPT1:"), W("LPT2:")};

struct Caller {
    BehaviourWorld* world = nullptr;
    WorldDevice* device = nullptr;
    int index = 0;
    unsigned wrongAnswers = 0;
    std::string firstWrongAnswer;
};

void CallPasses(void* context) {
    Caller& caller = *static_cast<Caller*>(context);
    for (int round = 0; round < kRoundsPerThread; ++round) {
        const DWORD pre = PrePass(*caller.world, *caller.device);
        const DWORD post = PostPass(*caller.world, *caller.device);
        if ((pre != names::postProcessingRequired || post != NO_ERROR) && caller.wrongAnswers++ == 0) {
            char answers[80] = {};
            std::snprintf(answers, sizeof answers, "round %d: pre pass %#lx, post pass %#lx", round,
                          static_cast<unsigned long>(pre), static_cast<unsigned long>(post));
            caller.firstWrongAnswer = answers;
        }
    }
}

bool IsBoundPort(const StoredValue& value) {
    return value.type == REG_SZ && (value.AsText() == kPorts[0] || value.AsText() == kPorts[1]);
}

// A value that every overlapping pass may have written or deleted: gone, or whole.
void CheckInstallContextWholeOrGone(BehaviourWorld& world, unsigned mode) {
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_TRUE(!context.Exists() ||
                (context.type == REG_DWORD && context.data.size() == 4 && context.AsDword() == 2))
        << Formatted("mode %u: expected InstallContext gone or REG_DWORD 2, got %s of %u bytes, value %lu",
                     mode, TypeName(context.type), static_cast<unsigned>(context.data.size()),
                     static_cast<unsigned long>(context.AsDword()));
    EXPECT_TRUE(world.KeyExists(HKEY_CURRENT_USER, names::printSettingsKey))
        << Formatted("mode %u: the pre passes must have left the per-user settings key", mode);
}

// The selector is consumed by the USB pre passes that read it, and every companion key that one of
// them wrote holds one of the two ports.
void CheckCompanionsWhole(BehaviourWorld& world, unsigned mode) {
    const StoredValue selector =
        world.ReadValue(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType);
    EXPECT_TRUE(!selector.Exists()) << Formatted(
        "mode %u: expected CurrentDeviceType consumed, got status %ld", mode,
        static_cast<long>(selector.status));
    const StoredValue alternate =
        world.ReadValue(HKEY_LOCAL_MACHINE, names::alternateCompanionKey, names::portName);
    EXPECT_TRUE(alternate.Exists() && IsBoundPort(alternate)) << Formatted(
        "mode %u: the selector named the alternate companion: expected its PortName USB001 or USB002, got "
        "status %ld, %s \"%s\"",
        mode, static_cast<long>(alternate.status), TypeName(alternate.type),
        Narrow(alternate.AsText()).c_str());
    const StoredValue fallback =
        world.ReadValue(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(!fallback.Exists() || IsBoundPort(fallback)) << Formatted(
        "mode %u: expected the default companion's PortName absent or USB001 or USB002, got %s \"%s\"", mode,
        TypeName(fallback.type), Narrow(fallback.AsText()).c_str());
}

// After the overlapping calls a lone installation works as ever.
void CheckALoneInstallationAfterwards(BehaviourWorld& world, unsigned mode, WorldDevice& device) {
    const DWORD pre = PrePass(world, device);
    const StoredValue stored = UserSetting(world, names::installContext);
    EXPECT_TRUE(pre == names::postProcessingRequired && stored.Exists() && stored.AsDword() == 2)
        << Formatted(
               "mode %u: a lone pre pass: expected 0xe0000226 and InstallContext 2, got %#lx and status %ld",
               mode, static_cast<unsigned long>(pre), static_cast<long>(stored.status));
    const DWORD post = PostPass(world, device);
    EXPECT_TRUE(post == NO_ERROR && !UserSetting(world, names::installContext).Exists())
        << Formatted("mode %u: a lone post pass: expected 0 and InstallContext deleted, got %#lx", mode,
                     static_cast<unsigned long>(post));
}

// With tracking on the report at unload is the clean one: every block of every call was released.
void CheckCleanReport(BehaviourWorld& world, unsigned mode, const std::string& modulePath,
                      const std::string& logDirectory) {
    const Pieces pieces = TrackerPieces(world);
    if (mode == 0) {
        EXPECT_TRUE(pieces.empty()) << Formatted("pass-through: expected no word on the debugger, got \"%s\"",
                                                 Shown(pieces).c_str());
        return;
    }
    const long count = ReportedCount(pieces);
    EXPECT_TRUE(count > 0) << Formatted("mode %u: expected a count of the allocations tracked, got %ld", mode,
                                        count);
    Pieces expected = ReportHead(world.ProcessPath(), modulePath);
    Append(&expected, {CountLine(static_cast<unsigned long>(count)), cleanVerdict});
    Append(&expected, ReportClosing());
    const std::string difference = FirstDifference(expected, pieces);
    EXPECT_TRUE(difference.empty()) << Formatted("mode %u: expected the clean report: %s", mode,
                                                 difference.c_str());
    EXPECT_TRUE(world.FilesIn(logDirectory).empty())
        << Formatted("mode %u: a clean run must leave no log file, found %u", mode,
                     static_cast<unsigned>(world.FilesIn(logDirectory).size()));
    EXPECT_TRUE(world.BreakpointTraps() == 0)
        << Formatted("mode %u: expected no trap, got %u", mode, world.BreakpointTraps());
}

} // namespace

TEST_F(BehaviourCheck, ConcurrentInstallPassesAnswerAsAloneAndLeaveTheRegistryWhole) {
    for (unsigned mode = 0; mode <= 4; ++mode) {
        world.Clear();
        const std::string logDirectory = world.FreshLogDirectory();
        SwitchTrackingOn(world, mode, logDirectory);
        LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
        const std::string modulePath = world.ModulePath();
        std::vector<std::unique_ptr<WorldDevice>> devices;
        for (int d = 0; d < kDevices; ++d) {
            std::string why;
            devices.push_back(
                world.AddDevice(kEnumerators[d], W("Alpha 100 Printer"), names::printerSetupClass, &why));
            ASSERT_TRUE(devices.back() != nullptr)
                << Formatted("cannot register device %d: %s", d, why.c_str());
            devices.back()->SetHardwareText(names::portName, kPorts[d]);
        }
        // One selector for all: whichever USB pre pass reads it first binds the alternate companion.
        world.WriteDword(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType, 1);

        std::vector<Caller> callers(kThreads);
        for (int i = 0; i < kThreads; ++i) {
            callers[i].world = &world;
            callers[i].device = devices[i % kDevices].get();
            callers[i].index = i;
        }
        const int started = workers::RunOnThreads(CallPasses, callers);
        ASSERT_TRUE(started == kThreads)
            << Formatted("mode %u: only %d of %d threads started", mode, started, kThreads);
        for (const Caller& caller : callers) {
            EXPECT_TRUE(caller.wrongAnswers == 0)
                << Formatted("mode %u, thread %d: %u wrong answers, the first: %s", mode, caller.index,
                             caller.wrongAnswers, caller.firstWrongAnswer.c_str());
        }
        CheckInstallContextWholeOrGone(world, mode);
        CheckCompanionsWhole(world, mode);
        CheckALoneInstallationAfterwards(world, mode, *devices[2]);
        devices.clear();
        world.UnloadModule();
        CheckCleanReport(world, mode, modulePath, logDirectory);
    }
}
