// The pre pass's USB companion binding against the installation service and the registry: the printer's
// port name read from its hardware key, the companion chosen by CurrentDeviceType, and PortName written
// into the registry key of the companion's present device interface or, when the companion is not known,
// into its settings key.
#include "behaviour_support.h"

using namespace behaviour;

namespace {

const WCHAR* const kPrinterEnumerator = W("VraUsbPrinter");
const WCHAR* const kPrinterDescription = W("Alpha 100 USB Printer");
const WideText kUsbPort = W("USB001");

StoredValue CompanionKeyValue(BehaviourWorld& world, const WCHAR* companionKey, const WCHAR* name) {
    return world.ReadValue(HKEY_LOCAL_MACHINE, companionKey, name);
}

// The identifier in ASCII lower case: the same device to a reader who ignores letter case.
WideText Lowered(const WideText& text) {
    WideText lowered = text;
    for (WCHAR& unit : lowered) {
        if (unit >= 'A' && unit <= 'Z') {
            unit = static_cast<WCHAR>(unit - 'A' + 'a');
        }
    }
    return lowered;
}

// A pre pass with CurrentDeviceType = `selector`: the selector is consumed, the port goes into
// `chosenKey` and `otherKey` stays absent.
void CheckSelectorPicksItsCompanion(BehaviourWorld& world, WorldDevice& printer, DWORD selector,
                                    const WCHAR* chosenKey, const WCHAR* otherKey) {
    world.WriteDword(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType, selector);
    PrePass(world, printer);
    const StoredValue left =
        world.ReadValue(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType);
    EXPECT_TRUE(left.status == ERROR_FILE_NOT_FOUND)
        << Formatted("selector %lu: expected CurrentDeviceType deleted, got status %ld",
                     static_cast<unsigned long>(selector), static_cast<long>(left.status));
    const StoredValue port = CompanionKeyValue(world, chosenKey, names::portName);
    EXPECT_TRUE(port.Exists() && port.AsText() == kUsbPort) << Formatted(
        "selector %lu: expected PortName \"USB001\" in %s, got status %ld",
        static_cast<unsigned long>(selector), Narrow(chosenKey).c_str(), static_cast<long>(port.status));
    EXPECT_TRUE(!world.KeyExists(HKEY_LOCAL_MACHINE, otherKey)) << Formatted(
        "selector %lu: %s must stay absent", static_cast<unsigned long>(selector), Narrow(otherKey).c_str());
}

} // namespace

// Declares `printer`, the USB printer whose pre pass the checks run, or ends the check as failed.
#define ADD_USB_PRINTER_OR_FAIL()                                                                            \
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);          \
    printer->SetHardwareText(names::portName, kUsbPort.c_str())

TEST_F(BehaviourCheck, PortNameGoesIntoTheKeyOfTheCompanionsPresentInterface) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    ADD_DEVICE_OR_FAIL(companion, W("VraCompanionA"), W("Companion A"), names::otherDevicesSetupClass);
    SKIP_UNLESS_PREPARED(companion->ExposeInterface(names::defaultCompanionInterface));
    // Stored as the service reports the identifier: the comparison is exact.
    world.WriteText(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::bulkInstanceId,
                    companion->InstanceId());

    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue bound =
        companion->ReadInterfaceValue(names::defaultCompanionInterface, names::portName);
    EXPECT_TRUE(bound.Exists()) << Formatted("expected PortName in the interface key, got status %ld",
                                             bound.status);
    EXPECT_TRUE(bound.type == REG_SZ && bound.AsText() == kUsbPort) << Formatted(
        "expected REG_SZ \"USB001\", got %s \"%s\"", TypeName(bound.type), Narrow(bound.AsText()).c_str());
    const StoredValue stray = CompanionKeyValue(world, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(!stray.Exists()) << Formatted(
        "the companion key must get no PortName when the interface takes it, found \"%s\"",
        Narrow(stray.AsText()).c_str());
}

TEST_F(BehaviourCheck, BulkInstanceIdDifferingOnlyInLetterCaseBindsNothing) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    ADD_DEVICE_OR_FAIL(companion, W("VraCompanionD"), W("Companion D"), names::otherDevicesSetupClass);
    SKIP_UNLESS_PREPARED(companion->ExposeInterface(names::defaultCompanionInterface));
    const WideText lowered = Lowered(companion->InstanceId());
    EXPECT_TRUE(lowered != companion->InstanceId()) << Formatted(
        "the identifier \"%s\" has no upper-case letter to lower", Narrow(companion->InstanceId()).c_str());
    world.WriteText(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::bulkInstanceId, lowered);

    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue notBound =
        companion->ReadInterfaceValue(names::defaultCompanionInterface, names::portName);
    EXPECT_TRUE(!notBound.Exists()) << Formatted(
        "\"%s\" must not match \"%s\", yet the interface key got PortName \"%s\"", Narrow(lowered).c_str(),
        Narrow(companion->InstanceId()).c_str(), Narrow(notBound.AsText()).c_str());
    EXPECT_TRUE(!CompanionKeyValue(world, names::defaultCompanionKey, names::portName).Exists())
        << "a failed match must not fall back to the companion key";
}

TEST_F(BehaviourCheck, TheCompanionIsFoundBehindOtherPresentInterfacesOfItsClass) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    ADD_DEVICE_OR_FAIL(first, W("VraCompanionB"), W("Companion B"), names::otherDevicesSetupClass);
    ADD_DEVICE_OR_FAIL(second, W("VraCompanionC"), W("Companion C"), names::otherDevicesSetupClass);
    SKIP_UNLESS_PREPARED(first->ExposeInterface(names::defaultCompanionInterface));
    SKIP_UNLESS_PREPARED(second->ExposeInterface(names::defaultCompanionInterface));
    // Name the companion that the service enumerates later, so that the search has to step over one.
    const int firstIndex = world.PresentInterfaceIndex(names::defaultCompanionInterface, first->InstanceId());
    const int secondIndex =
        world.PresentInterfaceIndex(names::defaultCompanionInterface, second->InstanceId());
    WorldDevice& target = firstIndex > secondIndex ? *first : *second;
    WorldDevice& other = firstIndex > secondIndex ? *second : *first;
    const int targetIndex = firstIndex > secondIndex ? firstIndex : secondIndex;
    EXPECT_TRUE(targetIndex >= 1) << Formatted("expected the named companion behind another one, at index %d",
                                               targetIndex);
    world.WriteText(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::bulkInstanceId,
                    target.InstanceId());

    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue bound = target.ReadInterfaceValue(names::defaultCompanionInterface, names::portName);
    EXPECT_TRUE(bound.Exists() && bound.AsText() == kUsbPort)
        << Formatted("expected PortName \"USB001\" in the interface key of %s (index %d), got status %ld",
                     Narrow(target.InstanceId()).c_str(), targetIndex, bound.status);
    EXPECT_TRUE(!other.ReadInterfaceValue(names::defaultCompanionInterface, names::portName).Exists())
        << "the other companion's interface must get no PortName";
}

TEST_F(BehaviourCheck, WithoutBulkInstanceIdPortNameGoesIntoTheCompanionKey) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue port = CompanionKeyValue(world, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(port.Exists()) << Formatted(
        "expected the default companion key created with PortName, got status %ld", port.status);
    EXPECT_TRUE(port.type == REG_SZ && port.AsText() == kUsbPort) << Formatted(
        "expected REG_SZ \"USB001\", got %s \"%s\"", TypeName(port.type), Narrow(port.AsText()).c_str());
    EXPECT_TRUE(!world.KeyExists(HKEY_LOCAL_MACHINE, names::alternateCompanionKey))
        << "the alternate companion key must stay absent";
}

TEST_F(BehaviourCheck, BulkInstanceIdOfAnotherTypeCountsAsAbsent) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    world.WriteDword(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::bulkInstanceId, 7);
    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue port = CompanionKeyValue(world, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(port.Exists() && port.AsText() == kUsbPort) << Formatted(
        "a REG_DWORD BulkInstanceID: expected PortName \"USB001\" in the companion key, got status %ld",
        port.status);
}

TEST_F(BehaviourCheck, BulkInstanceIdNamingNoPresentDeviceBindsNothing) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    world.WriteText(HKEY_LOCAL_MACHINE, names::defaultCompanionKey, names::bulkInstanceId,
                    W("ROOT\\VRANOSUCHCOMPANION\\0000"));
    EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
    const StoredValue port = CompanionKeyValue(world, names::defaultCompanionKey, names::portName);
    EXPECT_TRUE(!port.Exists()) << "expected no PortName in the companion key, found \""
                                << Narrow(port.AsText()) << "\"";
}

TEST_F(BehaviourCheck, CurrentDeviceTypeZeroSelectsTheDefaultCompanionAndIsConsumed) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    CheckSelectorPicksItsCompanion(world, *printer, 0, names::defaultCompanionKey,
                                   names::alternateCompanionKey);
}

TEST_F(BehaviourCheck, CurrentDeviceTypeOneSelectsTheAlternateCompanionAndIsConsumed) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_USB_PRINTER_OR_FAIL();
    CheckSelectorPicksItsCompanion(world, *printer, 1, names::alternateCompanionKey,
                                   names::defaultCompanionKey);
}

TEST_F(BehaviourCheck, PortsWithoutUsbInThisLetterCaseBindNothing) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(printer, kPrinterEnumerator, kPrinterDescription, names::printerSetupClass);
    const WCHAR* const ports[] = {W("usb001"), W("LPT1:"), W("FILE:")};
    for (const WCHAR* port : ports) {
        SCOPED_TRACE("port " + Narrow(port));
        ForgetCoInstallerState(world);
        printer->SetHardwareText(names::portName, port);
        world.WriteDword(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType, 1);
        EXPECT_EQ(PrePass(world, *printer), names::postProcessingRequired);
        EXPECT_TRUE(CompanionKeysUntouched(world)) << "expected no companion key";
        EXPECT_TRUE(
            world.ReadValue(HKEY_LOCAL_MACHINE, names::printSettingsKey, names::currentDeviceType).Exists())
            << "CurrentDeviceType must stay";
    }
}
