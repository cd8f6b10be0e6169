// The pre pass's USB companion binding against the real SetupAPI: the printer's port name read from its
// hardware key, the companion chosen by CurrentDeviceType, and PortName written into the registry key of
// the companion's present device interface or, when the companion is not known, into its settings key.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/wine_check.h"

#include <cwctype>

using namespace winetest;

namespace {

// Companions are devices of their own setup class; which one does not matter to the binding.
constexpr GUID kOtherDevicesSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

const wchar_t kUsbPort[] = L"USB001";

RegistryValue CompanionKeyValue(const wchar_t* companionKey, const wchar_t* name) {
    return ReadValue(HKEY_LOCAL_MACHINE, companionKey, name);
}

void ResetWithPort(TestDevice& printer, const wchar_t* port) {
    ForgetCoInstallerState();
    printer.SetHardwareText(kPortNameValue, port);
}

// Registers the companion and makes its default interface present: a failed check when it cannot be
// registered, a skip when the interface cannot be made present on this system.
bool MakeCompanionPresent(TestDevice& companion) {
    if (!CHECK(companion.IsRegistered(), "cannot register the companion: %s", companion.Failure().c_str())) {
        return false;
    }
    if (!companion.ExposeInterface(kDefaultCompanionInterface)) {
        SKIP("the companion interface cannot be made present here: %s", companion.Failure().c_str());
        return false;
    }
    return true;
}

void test_interface_key_receives_port(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("PortName goes into the key of the companion's present interface");
    TestDevice companion(L"VraCompanionA", L"Companion A", kOtherDevicesSetupClass);
    if (!MakeCompanionPresent(companion)) {
        return;
    }
    ResetWithPort(printer, kUsbPort);
    // Stored as the service reports the identifier: the comparison is exact.
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, companion.InstanceId());

    const DWORD answer = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(answer == kPostProcessingRequired, "expected 0xe0000226, got %#lx", answer);
    const RegistryValue bound = companion.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue);
    CHECK(bound.Exists(), "expected PortName in the interface key, got status %ld", bound.status);
    CHECK(bound.type == REG_SZ && bound.AsText() == kUsbPort, "expected REG_SZ \"USB001\", got %s \"%s\"",
          TypeName(bound.type), Narrow(bound.AsText()).c_str());
    const RegistryValue stray = CompanionKeyValue(kDefaultCompanionKey, kPortNameValue);
    CHECK(!stray.Exists(), "the companion key must get no PortName when the interface takes it, found \"%s\"",
          Narrow(stray.AsText()).c_str());
}

void test_identifier_case_counts(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("BulkInstanceID that differs only in letter case does not match");
    TestDevice fresh(L"VraCompanionD", L"Companion D", kOtherDevicesSetupClass);
    if (!MakeCompanionPresent(fresh)) {
        return;
    }
    std::wstring lowered = fresh.InstanceId();
    for (wchar_t& unit : lowered) {
        unit = static_cast<wchar_t>(std::towlower(unit));
    }
    ResetWithPort(printer, kUsbPort);
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, lowered);
    const DWORD caseAnswer = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(caseAnswer == kPostProcessingRequired, "expected 0xe0000226, got %#lx", caseAnswer);
    const RegistryValue notBound = fresh.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue);
    CHECK(!notBound.Exists(), "\"%s\" must not match \"%s\", yet the interface key got PortName \"%s\"",
          Narrow(lowered).c_str(), Narrow(fresh.InstanceId()).c_str(), Narrow(notBound.AsText()).c_str());
    CHECK(!CompanionKeyValue(kDefaultCompanionKey, kPortNameValue).Exists(),
          "a failed match must not fall back to the companion key");
}

void test_search_goes_past_other_interfaces(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("the companion is found behind other present interfaces of its class");
    TestDevice first(L"VraCompanionB", L"Companion B", kOtherDevicesSetupClass);
    TestDevice second(L"VraCompanionC", L"Companion C", kOtherDevicesSetupClass);
    if (!first.IsRegistered() || !second.IsRegistered()) {
        CHECK(false, "cannot register the companions: %s%s", first.Failure().c_str(),
              second.Failure().c_str());
        return;
    }
    if (!first.ExposeInterface(kDefaultCompanionInterface) ||
        !second.ExposeInterface(kDefaultCompanionInterface)) {
        SKIP("the companion interfaces cannot be made present here: %s%s", first.Failure().c_str(),
             second.Failure().c_str());
        return;
    }
    // Name the companion that the service enumerates later, so that the search has to step over one.
    const int firstIndex = PresentInterfaceIndex(kDefaultCompanionInterface, first.InstanceId());
    const int secondIndex = PresentInterfaceIndex(kDefaultCompanionInterface, second.InstanceId());
    TestDevice& target = firstIndex > secondIndex ? first : second;
    TestDevice& other = firstIndex > secondIndex ? second : first;
    const int targetIndex = firstIndex > secondIndex ? firstIndex : secondIndex;
    CHECK(targetIndex >= 1, "expected the named companion behind another one, at index %d", targetIndex);

    ResetWithPort(printer, kUsbPort);
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, target.InstanceId());
    coinstaller.PrePass(printer.Set(), printer.Element());
    const RegistryValue bound = target.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue);
    CHECK(bound.Exists() && bound.AsText() == kUsbPort,
          "expected PortName \"USB001\" in the interface key of %s (index %d), got status %ld",
          Narrow(target.InstanceId()).c_str(), targetIndex, bound.status);
    CHECK(!other.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue).Exists(),
          "the other companion's interface must get no PortName");
}

void test_unknown_companion_gets_port_in_its_key(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("without BulkInstanceID PortName goes into the companion key");
    ResetWithPort(printer, kUsbPort);
    const DWORD answer = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(answer == kPostProcessingRequired, "expected 0xe0000226, got %#lx", answer);
    const RegistryValue port = CompanionKeyValue(kDefaultCompanionKey, kPortNameValue);
    CHECK(port.Exists(), "expected the default companion key created with PortName, got status %ld",
          port.status);
    CHECK(port.type == REG_SZ && port.AsText() == kUsbPort, "expected REG_SZ \"USB001\", got %s \"%s\"",
          TypeName(port.type), Narrow(port.AsText()).c_str());
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kAlternateCompanionKey),
          "the alternate companion key must stay absent");

    CHECK_AREA("BulkInstanceID of another type counts as absent");
    ResetWithPort(printer, kUsbPort);
    WriteDword(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, 7);
    coinstaller.PrePass(printer.Set(), printer.Element());
    const RegistryValue fallback = CompanionKeyValue(kDefaultCompanionKey, kPortNameValue);
    CHECK(fallback.Exists() && fallback.AsText() == kUsbPort, "expected PortName \"USB001\", got status %ld",
          fallback.status);

    CHECK_AREA("BulkInstanceID naming no present device binds nothing");
    ResetWithPort(printer, kUsbPort);
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue,
              L"ROOT\\VRANOSUCHCOMPANION\\0000");
    const DWORD absent = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(absent == kPostProcessingRequired, "expected 0xe0000226, got %#lx", absent);
    CHECK(!CompanionKeyValue(kDefaultCompanionKey, kPortNameValue).Exists(),
          "expected no PortName in the companion key when its named device is missing");
}

void test_device_type_selects_companion(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("CurrentDeviceType 0 selects the default companion and is consumed");
    ResetWithPort(printer, kUsbPort);
    WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 0);
    coinstaller.PrePass(printer.Set(), printer.Element());
    RegistryValue selector = ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue);
    CHECK(selector.status == ERROR_FILE_NOT_FOUND, "expected CurrentDeviceType deleted, got status %ld",
          selector.status);
    CHECK(CompanionKeyValue(kDefaultCompanionKey, kPortNameValue).AsText() == kUsbPort,
          "expected PortName \"USB001\" in the default companion key");
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kAlternateCompanionKey),
          "the alternate companion key must stay absent");

    CHECK_AREA("CurrentDeviceType 1 selects the alternate companion and is consumed");
    ResetWithPort(printer, kUsbPort);
    WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 1);
    coinstaller.PrePass(printer.Set(), printer.Element());
    selector = ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue);
    CHECK(selector.status == ERROR_FILE_NOT_FOUND, "expected CurrentDeviceType deleted, got status %ld",
          selector.status);
    const RegistryValue alternate = CompanionKeyValue(kAlternateCompanionKey, kPortNameValue);
    CHECK(alternate.Exists() && alternate.AsText() == kUsbPort,
          "expected PortName \"USB001\" in the alternate companion key, got status %ld", alternate.status);
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kDefaultCompanionKey), "the default companion key must stay absent");
}

void test_ports_without_usb(const CoInstallerModule& coinstaller, TestDevice& printer) {
    const wchar_t* const ports[] = {L"usb001", L"LPT1:", L"FILE:"};
    for (const wchar_t* port : ports) {
        CHECK_AREA("a port without \"USB\" binds nothing");
        ResetWithPort(printer, port);
        WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 1);
        const DWORD answer = coinstaller.PrePass(printer.Set(), printer.Element());
        CHECK(answer == kPostProcessingRequired, "port %s: expected 0xe0000226, got %#lx",
              Narrow(port).c_str(), answer);
        CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kDefaultCompanionKey) &&
                  !KeyExists(HKEY_LOCAL_MACHINE, kAlternateCompanionKey),
              "port %s: expected no companion key", Narrow(port).c_str());
        CHECK(ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue).Exists(),
              "port %s: CurrentDeviceType must stay", Narrow(port).c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    CoInstallerModule coinstaller(argc, argv);
    CHECK_AREA("loading the module");
    if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
        return winecheck::finish("usb_companion_test");
    }
    TestDevice printer(L"VraUsbPrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return winecheck::finish("usb_companion_test");
    }

    test_interface_key_receives_port(coinstaller, printer);
    test_identifier_case_counts(coinstaller, printer);
    test_search_goes_past_other_interfaces(coinstaller, printer);
    test_unknown_companion_gets_port_in_its_key(coinstaller, printer);
    test_device_type_selects_companion(coinstaller, printer);
    test_ports_without_usb(coinstaller, printer);

    ForgetCoInstallerState();
    return winecheck::finish("usb_companion_test");
}
