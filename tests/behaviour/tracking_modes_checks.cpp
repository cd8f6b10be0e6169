// The co-installer with the allocation tracker switched on: the module loaded with each tracking mode
// (TrackMemoryAllocation 1 to 4) serves both passes of an installation exactly as it does untracked, and
// with TrackMemoryFailSize 16, which makes nearly every allocation of the module fail, it still answers
// both passes as it must and unloads. Each mode gets a fresh load of the module: the switches are read at
// its first allocation and kept while it stays loaded.
#include "behaviour_support.h"

#include <algorithm>
#include <string>

using namespace behaviour;

namespace {

const WCHAR* const kPrinterEnumerator = W("VraTrackedPrinter");
const WCHAR* const kPrinterDescription = W("Alpha 100 USB Printer");
const WCHAR* const kPclDriver = W("Example PCL 6 Driver");
const WCHAR* const kQueuePort = W("FILE:");
const WideText kUsbPort = W("USB001");
constexpr DWORD kFirstMode = 1;
constexpr DWORD kLastMode = 4;
// Below the size of nearly every string and buffer the co-installer allocates.
constexpr DWORD kSmallFailSize = 16;

void SetSwitches(BehaviourWorld& world, DWORD mode, DWORD failSize) {
    world.DeleteKeyTree(HKEY_LOCAL_MACHINE, names::trackerKey);
    world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, names::trackMemoryAllocation, mode);
    if (failSize != 0) {
        world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, names::trackMemoryFailSize, failSize);
    }
}

WideText Decimal(DWORD value) {
    WideText text;
    for (const char digit : std::to_string(value)) {
        text.push_back(static_cast<WCHAR>(digit));
    }
    return text;
}

bool HasPrinter(BehaviourWorld& world, const WideText& name) {
    const std::vector<WideText> printers = world.PrinterNames();
    return std::find(printers.begin(), printers.end(), name) != printers.end();
}

// What one whole installation of a USB printer, whose queue is waiting to be named, left behind, with the
// module loaded afresh under the mode's switches. Each mode has a queue of its own, "Alpha Queue <mode>"
// with the printer data "Alpha 10<mode>", so that the queues of earlier modes, renamed or not, take
// nothing from it.
struct TrackedInstallation {
    const char* setupFailure = nullptr; // why the installation could not be prepared
    WideText queueName;
    WideText composedName;
    DWORD prePass = 0;
    StoredValue contextAfterPrePass;
    StoredValue boundPort;
    DWORD postPass = 0;
    StoredValue contextAfterPostPass;
    StoredValue queueNameAfterPostPass;
    bool mappedAfterUnload = true;
};

TrackedInstallation InstallUnderMode(BehaviourWorld& world, WorldDevice& printer, DWORD mode) {
    TrackedInstallation installation;
    installation.queueName = W("Alpha Queue ") + Decimal(mode);
    const WideText printerData = W("Alpha 10") + Decimal(mode);
    installation.composedName = printerData + W(" VRA PCL 6");
    SetSwitches(world, mode, 0);
    ForgetCoInstallerState(world);
    printer.SetHardwareText(names::portName, kUsbPort.c_str());
    if ((installation.setupFailure =
             world.AddPrinter(installation.queueName.c_str(), kPclDriver, kQueuePort))) {
        return installation;
    }
    world.SetPrinterDataText(installation.queueName.c_str(), kQueuePort, printerData.c_str());
    world.WriteText(HKEY_CURRENT_USER, names::printSettingsKey, names::originalPrinterName,
                    installation.queueName);
    if ((installation.setupFailure = world.LoadModule(ModuleBuild::Shipped))) {
        return installation;
    }
    installation.prePass = PrePass(world, printer);
    installation.contextAfterPrePass = UserSetting(world, names::installContext);
    installation.boundPort = world.ReadValue(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::portName);
    installation.postPass = PostPass(world, printer);
    installation.contextAfterPostPass = UserSetting(world, names::installContext);
    installation.queueNameAfterPostPass = UserSetting(world, names::originalPrinterName);
    // The module's exit list, the collector's teardown included, runs here.
    world.UnloadModule();
    installation.mappedAfterUnload = world.ModuleIsMapped();
    return installation;
}

} // namespace

TEST_F(BehaviourCheck, EveryTrackingModeServesBothPassesOfAnInstallation) {
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    for (DWORD mode = kFirstMode; mode <= kLastMode; ++mode) {
        SCOPED_TRACE(Formatted("mode %lu", mode));
        const TrackedInstallation done = InstallUnderMode(world, *printer, mode);
        if (done.setupFailure != nullptr) {
            ADD_FAILURE() << done.setupFailure;
            continue;
        }
        EXPECT_EQ(done.prePass, names::postProcessingRequired);
        EXPECT_TRUE(done.contextAfterPrePass.Exists() && done.contextAfterPrePass.AsDword() == 2)
            << Formatted("expected InstallContext = 2 after the pre pass, got status %ld, %lu",
                         done.contextAfterPrePass.status, done.contextAfterPrePass.AsDword());
        EXPECT_TRUE(done.boundPort.Exists() && done.boundPort.AsText() == kUsbPort)
            << Formatted("expected PortName \"USB001\" bound in the companion key, got status %ld \"%s\"",
                         done.boundPort.status, Narrow(done.boundPort.AsText()).c_str());
        EXPECT_EQ(done.postPass, static_cast<DWORD>(NO_ERROR));
        EXPECT_EQ(done.contextAfterPostPass.status, ERROR_FILE_NOT_FOUND)
            << "InstallContext after the post pass";
        EXPECT_EQ(done.queueNameAfterPostPass.status, ERROR_FILE_NOT_FOUND)
            << "InstallContextOriginalPrinterName";
        EXPECT_TRUE(!done.mappedAfterUnload) << "expected the module unloaded after its last reference went";
    }
}

TEST_F(BehaviourCheck, EveryTrackingModeRenamesTheQueue) {
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    const char* limitation = nullptr;
    for (DWORD mode = kFirstMode; mode <= kLastMode; ++mode) {
        SCOPED_TRACE(Formatted("mode %lu", mode));
        const TrackedInstallation done = InstallUnderMode(world, *printer, mode);
        if (done.setupFailure != nullptr) {
            ADD_FAILURE() << done.setupFailure;
            continue;
        }
        if ((limitation = world.RenameLimitation()) != nullptr) {
            EXPECT_TRUE(HasPrinter(world, done.queueName) && !HasPrinter(world, done.composedName))
                << "the queue must keep its name \"" << Narrow(done.queueName)
                << "\" when the spooler refuses";
            continue;
        }
        EXPECT_TRUE(HasPrinter(world, done.composedName))
            << "expected \"" << Narrow(done.composedName) << "\"";
        EXPECT_TRUE(!HasPrinter(world, done.queueName)) << "expected no \"" << Narrow(done.queueName) << "\"";
    }
    if (limitation != nullptr) {
        GTEST_SKIP() << Formatted("renaming the queue in tracking modes %u to %u: %s",
                                  static_cast<unsigned>(kFirstMode), static_cast<unsigned>(kLastMode),
                                  limitation);
    }
}

// Every allocation of 16 bytes or more fails: the module must still answer every request and unload.
TEST_F(BehaviourCheck, EveryTrackingModeWithASmallFailSizeStillAnswersAndUnloads) {
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    for (DWORD mode = kFirstMode; mode <= kLastMode; ++mode) {
        SCOPED_TRACE(Formatted("mode %lu", mode));
        SetSwitches(world, mode, kSmallFailSize);
        ForgetCoInstallerState(world);
        printer->SetHardwareText(names::portName, kUsbPort.c_str());
        world.WriteText(HKEY_CURRENT_USER, names::printSettingsKey, names::originalPrinterName,
                        W("No Such Queue"));
        const char* loadFailure = world.LoadModule(ModuleBuild::Shipped);
        if (loadFailure != nullptr) {
            ADD_FAILURE() << loadFailure;
            continue;
        }
        EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
        EXPECT_EQ(PostPass(world, *printer), static_cast<DWORD>(NO_ERROR));
        EXPECT_EQ(CallPass(world, DIF_SELECTDEVICE, printer->Set(), printer->Element(), false),
                  static_cast<DWORD>(NO_ERROR));
        // The binding works on strings that the module allocates, which all fail here: evidence that the
        // switches were read, since untracked the fail size has no effect.
        const StoredValue port =
            world.ReadValue(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::portName);
        EXPECT_TRUE(!port.Exists()) << "expected no PortName bound while every allocation fails, found \""
                                    << Narrow(port.AsText()) << "\"";
        world.UnloadModule();
        EXPECT_TRUE(!world.ModuleIsMapped()) << "expected the module unloaded after its last reference went";
    }
}

TEST_F(BehaviourCheck, ASmallFailSizeWithoutTrackingChangesNothing) {
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    SetSwitches(world, 0, kSmallFailSize);
    printer->SetHardwareText(names::portName, kUsbPort.c_str());
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue port = world.ReadValue(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(port.Exists() && port.AsText() == kUsbPort)
        << Formatted("expected PortName \"USB001\" bound, got status %ld", port.status);
}
