// The co-installer entry against the device-installation service and the registry: which requests it
// answers and how, and the per-user install context that its two DIF_INSTALLDEVICE passes keep.
#include "behaviour_support.h"

using namespace behaviour;

namespace {

const WCHAR* const kPrinterEnumerator = W("VraFlowPrinter");
const WCHAR* const kPrinterDescription = W("Alpha 100 Printer");

} // namespace

TEST_F(BehaviourCheck, RequestsOtherThanInstallDeviceAnswerZeroAndTouchNothing) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    printer->SetHardwareText(names::portName, W("USB001"));
    const DI_FUNCTION others[] = {DIF_SELECTDEVICE, DIF_INSTALLDEVICEFILES, DIF_REGISTERDEVICE, DIF_REMOVE,
                                  DIF_NEWDEVICEWIZARD_FINISHINSTALL};
    for (DI_FUNCTION function : others) {
        SCOPED_TRACE(Formatted("request %#x", function));
        ForgetCoInstallerState(world);
        EXPECT_EQ(CallPass(world, function, printer->Set(), printer->Element(), false), DWORD{NO_ERROR});
        EXPECT_EQ(CallPass(world, function, printer->Set(), printer->Element(), true), DWORD{NO_ERROR});
        EXPECT_TRUE(!world.KeyExists(HKEY_CURRENT_USER, names::printSettingsKey))
            << "a per-user settings key";
        EXPECT_TRUE(CompanionKeysUntouched(world)) << "a companion key";
    }

    // A stored context belongs to an installation in progress: another request leaves it alone.
    ForgetCoInstallerState(world);
    world.WriteDword(HKEY_CURRENT_USER, names::printSettingsKey, names::installContext, 2);
    const DWORD answer = CallPass(world, DIF_SELECTDEVICE, printer->Set(), printer->Element(), true);
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_EQ(answer, DWORD{NO_ERROR}) << "DIF_SELECTDEVICE with a stored context";
    EXPECT_TRUE(context.Exists() && context.AsDword() == 2)
        << Formatted("DIF_SELECTDEVICE must leave InstallContext = 2 alone: got status %ld, value %lu",
                     context.status, context.AsDword());
}

TEST_F(BehaviourCheck, PrePassStoresInstallContextTwoAndAsksForThePostPass) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    printer->SetHardwareText(names::portName, W("LPT1:"));
    // The selector is the companion binding's; a printer on a non-USB port must not consume it.
    world.WriteDword(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType, 1);

    const DWORD answer = PrePass(world, *printer);
    EXPECT_EQ(answer, names::postProcessingRequired);
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_TRUE(context.Exists()) << "expected InstallContext under HKCU, got status " << context.status;
    EXPECT_TRUE(context.type == REG_DWORD)
        << Formatted("expected InstallContext as REG_DWORD, got %s", TypeName(context.type));
    EXPECT_TRUE(context.data.size() == 4 && context.AsDword() == 2)
        << Formatted("expected 4 bytes holding 2, got %u bytes, value %lu",
                     static_cast<unsigned>(context.data.size()), context.AsDword());
    EXPECT_TRUE(CompanionKeysUntouched(world)) << "a printer on LPT1: must not touch a companion key";
    const StoredValue selector =
        world.ReadValue(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType);
    EXPECT_TRUE(selector.Exists() && selector.AsDword() == 1)
        << "LPT1: must leave CurrentDeviceType in place";

    // An earlier installation's context is overwritten.
    world.WriteDword(HKEY_CURRENT_USER, names::printSettingsKey, names::installContext, 3);
    const DWORD again = PrePass(world, *printer);
    const StoredValue replaced = UserSetting(world, names::installContext);
    EXPECT_TRUE(again == names::postProcessingRequired) << Formatted("expected 0xe0000226, got %#lx", again);
    EXPECT_TRUE(replaced.type == REG_DWORD && replaced.AsDword() == 2)
        << Formatted("expected REG_DWORD 2, got %s %lu", TypeName(replaced.type), replaced.AsDword());
}

TEST_F(BehaviourCheck, PrePassWithoutADeviceElementStillStoresTheContext) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    printer->SetHardwareText(names::portName, W("USB001"));
    const DWORD bare = CallPass(world, DIF_INSTALLDEVICE, printer->Set(), nullptr, false);
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_TRUE(bare == names::postProcessingRequired) << Formatted("expected 0xe0000226, got %#lx", bare);
    EXPECT_TRUE(context.Exists() && context.AsDword() == 2)
        << Formatted("expected InstallContext = 2, got status %ld, %lu", context.status, context.AsDword());
    EXPECT_TRUE(CompanionKeysUntouched(world)) << "without a device element no companion key may be touched";
}

TEST_F(BehaviourCheck, PostPassDeletesTheInstallContextWhateverTheInstallationsResult) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    printer->SetHardwareText(names::portName, W("LPT1:"));
    PrePass(world, *printer);
    const DWORD answer = PostPass(world, *printer);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_EQ(context.status, ERROR_FILE_NOT_FOUND) << "InstallContext, holding " << context.AsDword();
    EXPECT_TRUE(world.KeyExists(HKEY_CURRENT_USER, names::printSettingsKey))
        << "the per-user settings key itself must stay";

    // After a failed class installation: the context goes all the same, and the record comes back as given.
    PrePass(world, *printer);
    COINSTALLER_CONTEXT_DATA seen = {};
    const DWORD failedInstall = ERROR_DI_DO_DEFAULT;
    const DWORD afterFailure =
        CallPass(world, DIF_INSTALLDEVICE, printer->Set(), printer->Element(), true, failedInstall, &seen);
    const StoredValue cleared = UserSetting(world, names::installContext);
    EXPECT_TRUE(afterFailure == NO_ERROR) << Formatted("expected 0, got %#lx", afterFailure);
    EXPECT_EQ(cleared.status, ERROR_FILE_NOT_FOUND) << "InstallContext after a failed installation";
    EXPECT_TRUE(seen.InstallResult == failedInstall && seen.PrivateData == nullptr && seen.PostProcessing)
        << Formatted("the context record must come back unchanged: got InstallResult %#lx, PrivateData %p",
                     seen.InstallResult, seen.PrivateData);
}

TEST_F(BehaviourCheck, PostPassWithoutAnInstallContextCreatesNothing) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    const DWORD nothing = PostPass(world, *printer);
    EXPECT_TRUE(nothing == NO_ERROR) << Formatted("expected 0, got %#lx", nothing);
    EXPECT_TRUE(!world.KeyExists(HKEY_CURRENT_USER, names::printSettingsKey))
        << "a post pass must not create the settings key";
}

TEST_F(BehaviourCheck, PostPassKeepsTheStoredQueueNameUnlessTheDescriptionIsReadable) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    ADD_DEVICE_OR_FAIL(anonymous, W("VraFlowAnonymous"), nullptr, names::printerSetupClass);
    StorePrePassState(world, W("Queue Without Description"));
    const DWORD answer = PostPass(world, *anonymous);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    EXPECT_TRUE(UserSetting(world, names::installContext).status == ERROR_FILE_NOT_FOUND)
        << "expected InstallContext deleted";
    const StoredValue name = UserSetting(world, names::originalPrinterName);
    EXPECT_TRUE(name.Exists() && name.AsText() == W("Queue Without Description"))
        << "without a description: expected the queue name kept, got \"" << Narrow(name.AsText()) << "\"";

    world.WriteDword(HKEY_CURRENT_USER, names::printSettingsKey, names::installContext, 2);
    const DWORD bare = CallPass(world, DIF_INSTALLDEVICE, printer->Set(), nullptr, true);
    EXPECT_TRUE(bare == NO_ERROR) << Formatted("expected 0, got %#lx", bare);
    EXPECT_TRUE(UserSetting(world, names::installContext).status == ERROR_FILE_NOT_FOUND)
        << "expected InstallContext deleted";
    EXPECT_TRUE(UserSetting(world, names::originalPrinterName).Exists())
        << "without a device element: expected InstallContextOriginalPrinterName kept";

    const DWORD readable = PostPass(world, *printer);
    const StoredValue consumed = UserSetting(world, names::originalPrinterName);
    EXPECT_TRUE(readable == NO_ERROR) << Formatted("expected 0, got %#lx", readable);
    EXPECT_EQ(consumed.status, ERROR_FILE_NOT_FOUND) << "the queue name, even with no such queue";
}
