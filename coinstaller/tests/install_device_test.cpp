// The install device: binding a USB printer's port to its companion (when the binding applies, which
// companion the selector picks, where the port name goes, how the companion's interface is found, and how
// each failure ends), and reading the device's instance identifier and registry properties.
#include "coinstaller/install_device.h"
#include "coinstaller/registry_names.h"
#include "coinstaller_test_support.h"
#include "install_scenario.h"

#include <algorithm>

using namespace coinstaller_test;

namespace {

const std::u16string portValue = u"PortName";
const std::u16string selectorValue = u"CurrentDeviceType";
const std::u16string instanceValue = u"BulkInstanceID";

class UsbCompanionBindingTest : public SimulatedWindowsTest {
  protected:
    void ReleaseTestHandles() override { printer.Release(); }

    int32_t Bind() {
        CInstallDevice device(printer.Set(), printer.Element());
        int32_t result = device.BindUsbCompanionPort();
        ExpectNothingLeftOpen("the binding", 1);
        return result;
    }
    // The companion key names the companion device; the device exposes `interfaces` of the class, and
    // the interface keys' paths come back in order.
    std::u16string NameCompanion(const std::u16string& storedId) {
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, storedId);
        return AddCompanion(companionInstanceId, defaultCompanionClass);
    }
    static bool WasOpened(HKEY root, const std::u16string& path) {
        std::u16string wanted = (root == HKEY_LOCAL_MACHINE ? u"HKLM\\" : u"HKCU\\") + path;
        auto sameIgnoringCase = [&wanted](const std::u16string& opened) {
            return opened.size() == wanted.size() &&
                   std::equal(opened.begin(), opened.end(), wanted.begin(), [](char16_t a, char16_t b) {
                       auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
                       return lower(a) == lower(b);
                   });
        };
        auto log = winsim::OpenedKeyLog();
        return std::any_of(log.begin(), log.end(), sameIgnoringCase);
    }

    PrinterDevice printer;
};

TEST_F(UsbCompanionBindingTest, AUsbPortGoesIntoAMissingDefaultCompanionKey) {
    printer.SetPort(u"USB001");
    EXPECT_EQ(0, Bind());
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue, &type, &data))
        << "the default companion key did not receive PortName";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(winsim::StringBytes(u"USB001"), data);
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, alternateCompanionKey));
}

TEST_F(UsbCompanionBindingTest, OnlyAPortNamedWithUppercaseUsbBinds) {
    for (const char16_t* port : {u"usb001", u"LPT1:", u"Usb001", u"COM1:"}) {
        winsim::Reset();
        PrinterDevice device;
        device.SetPort(port);
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue, 1);
        CInstallDevice installDevice(device.Set(), device.Element());
        EXPECT_EQ(-1, installDevice.BindUsbCompanionPort()) << "port " << Utf8(port);
        EXPECT_TRUE(WasOpened(HKEY_LOCAL_MACHINE, HardwareKey(device.InstanceId())))
            << "the hardware key was not read for port " << Utf8(port);
        EXPECT_FALSE(WasOpened(HKEY_LOCAL_MACHINE, machineSettingsKey))
            << "the settings key was opened for port " << Utf8(port);
        EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue))
            << "the selector was consumed for port " << Utf8(port);
        EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey)) << "port " << Utf8(port);
        EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, alternateCompanionKey)) << "port " << Utf8(port);
        device.Release();
        ExpectNothingLeftOpen("port " + Utf8(port));
    }
}

TEST_F(UsbCompanionBindingTest, TheUsbMarkerMayStandAnywhereInThePortName) {
    printer.SetPort(u"VIRTUAL-USB-07");
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("VIRTUAL-USB-07", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, SelectorZeroPicksTheDefaultCompanionAndIsConsumed) {
    printer.SetPort(u"USB001");
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue, 0);
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, alternateCompanionKey))
        << "the alternate key was created";
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue))
        << "CurrentDeviceType is still there";
}

TEST_F(UsbCompanionBindingTest, ANonZeroSelectorPicksTheAlternateCompanionAndIsConsumed) {
    printer.SetPort(u"USB002");
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue, 1);
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB002", StoredText(HKEY_LOCAL_MACHINE, alternateCompanionKey, portValue));
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey)) << "the default key was created";
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue));
}

TEST_F(UsbCompanionBindingTest, AShortSelectorOfAnotherTypeStillDecidesByItsBytes) {
    printer.SetPort(u"USB001");
    winsim::SetValue(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue, REG_BINARY, {1, 0, 0, 0});
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, alternateCompanionKey, portValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue));
}

TEST_F(UsbCompanionBindingTest, AnExistingCompanionKeyWithoutInstanceGetsThePortName) {
    printer.SetPort(u"USB003");
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"Other", u"kept");
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB003", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
    EXPECT_EQ("kept", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"Other"));
}

TEST_F(UsbCompanionBindingTest, AnInstanceStoredAsDwordCountsAsAbsent) {
    printer.SetPort(u"USB001");
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, 1);
    AddCompanion(companionInstanceId, defaultCompanionClass);
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, AKnownPresentCompanionGetsThePortNameInItsInterfaceKey) {
    printer.SetPort(u"USB001");
    std::u16string interfaceKey = NameCompanion(companionInstanceId);
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue))
        << "interface key " << Utf8(interfaceKey);
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue))
        << "the companion key got PortName although its companion is known";
    EXPECT_EQ(Utf8(companionInstanceId), StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue));
}

TEST_F(UsbCompanionBindingTest, TheMatchIsFoundBehindOtherDevicesInterfaces) {
    printer.SetPort(u"USB001");
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, companionInstanceId);
    std::u16string first = AddCompanion(u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&1", defaultCompanionClass);
    std::u16string second = AddCompanion(u"USB\\VID_1A2B&PID_0C02\\5&3C4D&0&9", defaultCompanionClass);
    AddCompanion(u"USB\\VID_9999&PID_0001\\1", unrelatedClass);
    std::u16string matching = AddCompanion(companionInstanceId, defaultCompanionClass);

    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, matching, portValue))
        << "the search stopped before the third interface";
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, first, portValue));
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, second, portValue));
}

// Wine's SetupAPI leaves the last error of the failed size probe in place after the detail read that
// follows it succeeds; that stale code must not end the search after the first interface.
TEST_F(UsbCompanionBindingTest, AStaleLastErrorAfterSuccessDoesNotEndTheSearch) {
    printer.SetPort(u"USB001");
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, companionInstanceId);
    AddCompanion(u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&1", defaultCompanionClass);
    AddCompanion(u"USB\\VID_1A2B&PID_0C02\\5&3C4D&0&9", defaultCompanionClass);
    std::u16string matching = AddCompanion(companionInstanceId, defaultCompanionClass);
    winsim::KeepLastErrorOnSuccess(true);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);

    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, matching, portValue))
        << "the search ended on a stale error code";
}

TEST_F(UsbCompanionBindingTest, AnInstanceDifferingOnlyInLetterCaseDoesNotMatch) {
    printer.SetPort(u"USB001");
    std::u16string lowered = companionInstanceId;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
    std::u16string interfaceKey = NameCompanion(lowered);
    EXPECT_EQ(-1, Bind());
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, AnEmptyInstanceCountsAsKnownAndMatchesNothing) {
    printer.SetPort(u"USB001");
    std::u16string interfaceKey = NameCompanion(u"");
    EXPECT_EQ(-1, Bind());
    EXPECT_GT(winsim::CallCount("SetupDiGetClassDevsW"), 0u) << "the search did not run";
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, AKnownCompanionThatIsNotPresentGetsNothing) {
    printer.SetPort(u"USB001");
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, companionInstanceId);
    std::u16string interfaceKey = AddCompanion(companionInstanceId, defaultCompanionClass, false);
    EXPECT_EQ(-1, Bind());
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, TheCompanionMustExposeTheSelectedClass) {
    printer.SetPort(u"USB001");
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, instanceValue, companionInstanceId);
    std::u16string interfaceKey = AddCompanion(companionInstanceId, alternateCompanionClass);
    EXPECT_EQ(-1, Bind());
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue));
}

// The stored companion's interface is the second of its class. A failure of the search ends it quietly,
// except a failed detail probe or read that leaves no error code, after which the next interface is tried;
// a failed enumeration ends it even then, as retrying the same index could go on for ever.
TEST_F(UsbCompanionBindingTest, PlatformFailuresDuringTheSearch) {
    const struct {
        const char* call;
        DWORD error;
        unsigned skip;  // the printer's own id is read (probe and read) before the search
        unsigned times; // 0: every later call
        bool found;
    } failures[] = {{"SetupDiGetClassDevsW", ERROR_INVALID_PARAMETER, 0, 0, false},
                    {"SetupDiEnumDeviceInterfaces", ERROR_INVALID_PARAMETER, 0, 0, false},
                    {"SetupDiEnumDeviceInterfaces", ERROR_SUCCESS, 0, 1, false},
                    {"SetupDiGetDeviceInterfaceDetailW", ERROR_INVALID_PARAMETER, 0, 0, false},
                    {"SetupDiGetDeviceInterfaceDetailW", ERROR_INVALID_PARAMETER, 1, 0, false},
                    {"SetupDiGetDeviceInterfaceDetailW", ERROR_SUCCESS, 0, 1, true},
                    {"SetupDiGetDeviceInterfaceDetailW", ERROR_SUCCESS, 1, 1, true},
                    {"SetupDiGetDeviceInstanceIdW", ERROR_INVALID_PARAMETER, 2, 0, false},
                    {"SetupDiCreateDeviceInterfaceRegKeyW", ERROR_INVALID_PARAMETER, 0, 0, false}};
    for (const auto& failure : failures) {
        winsim::Reset();
        PrinterDevice device;
        device.SetPort(u"USB001");
        AddCompanion(u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&1", defaultCompanionClass);
        std::u16string interfaceKey = NameCompanion(companionInstanceId);
        winsim::FailCall(failure.call, failure.error, failure.skip, failure.times);
        CInstallDevice installDevice(device.Set(), device.Element());
        const std::string at = std::string(failure.call) + " failing with " + std::to_string(failure.error) +
                               " after " + std::to_string(failure.skip);
        EXPECT_EQ(failure.found ? 0 : -1, installDevice.BindUsbCompanionPort()) << at;
        EXPECT_EQ(failure.found ? "USB001" : "<absent>",
                  StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue))
            << at;
        EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue)) << at;
        winsim::ClearFailures();
        device.Release();
        ExpectNothingLeftOpen("a search with " + at);
    }
}

TEST_F(UsbCompanionBindingTest, AnInterfaceKeyThatRefusesFullAccessGetsNothing) {
    printer.SetPort(u"USB001");
    std::u16string interfaceKey = NameCompanion(companionInstanceId);
    winsim::CreateKey(HKEY_LOCAL_MACHINE, interfaceKey);
    winsim::RestrictKeyAccess(HKEY_LOCAL_MACHINE, interfaceKey, KEY_WRITE);
    EXPECT_EQ(-1, Bind());
    EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue));
}

TEST_F(UsbCompanionBindingTest, ACompanionKeyThatCannotBeOpenedEndsTheBinding) {
    printer.SetPort(u"USB001");
    winsim::CreateKey(HKEY_LOCAL_MACHINE, defaultCompanionKey);
    winsim::RestrictKeyAccess(HKEY_LOCAL_MACHINE, defaultCompanionKey, KEY_READ);
    EXPECT_EQ(-1, Bind());
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
}

TEST_F(UsbCompanionBindingTest, ASettingsKeyThatCannotBeOpenedLeavesTheDefaultCompanion) {
    printer.SetPort(u"USB001");
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue, 1);
    winsim::FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED, 1, 1); // the settings key, after the hardware key
    EXPECT_EQ(0, Bind());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue));
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, selectorValue));
}

TEST_F(UsbCompanionBindingTest, WithoutADeviceElementNothingHappens) {
    printer.SetPort(u"USB001");
    CInstallDevice device(printer.Set(), nullptr);
    EXPECT_EQ(-1, device.BindUsbCompanionPort());
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey));
    CInstallDevice noSet(nullptr, printer.Element());
    EXPECT_EQ(-1, noSet.BindUsbCompanionPort());
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey));
}

TEST_F(UsbCompanionBindingTest, AnUnreadablePortEndsTheBinding) {
    for (DWORD type : {static_cast<DWORD>(REG_DWORD), static_cast<DWORD>(REG_MULTI_SZ)}) {
        winsim::Reset();
        PrinterDevice device;
        winsim::SetValue(HKEY_LOCAL_MACHINE, HardwareKey(device.InstanceId()), portValue, type,
                         winsim::StringBytes(u"USB001"));
        CInstallDevice installDevice(device.Set(), device.Element());
        EXPECT_EQ(-1, installDevice.BindUsbCompanionPort()) << "PortName of type " << type;
        EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey)) << "type " << type;
        device.Release();
    }
}

// A constant whose storage could not be had at load: the step that needs it does not run, and the port
// name is never written under a guessed name or into a guessed place.
TEST_F(UsbCompanionBindingTest, AMissingConstantStopsItsStepWithoutGuessing) {
    WideString* constants[] = {&usbPortMarker,       &portValueName,         &settingsKeyPath,
                               &deviceTypeValueName, &bulkInstanceValueName, &defaultCompanionKeyPath};
    for (WideString* constant : constants) {
        winsim::Reset();
        PrinterDevice device;
        device.SetPort(u"USB001");
        std::u16string interfaceKey = NameCompanion(companionInstanceId);
        WideString failed = InvalidString();
        std::string name = Utf8(*constant);
        constant->Swap(failed);
        CInstallDevice installDevice(device.Set(), device.Element());
        int32_t result = installDevice.BindUsbCompanionPort();
        constant->Swap(failed);

        EXPECT_EQ(-1, result) << "without " << name;
        EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, portValue)) << "without " << name;
        EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, portValue))
            << "without " << name;
        EXPECT_EQ(0u, winsim::CallCount("RegCreateKeyExW")) << "a key was created without " << name;
        device.Release();
        ExpectNothingLeftOpen("a binding without " + name);
    }
}

TEST_F(UsbCompanionBindingTest, GetDeviceInstanceIdReadsTheElementsIdentifier) {
    CInstallDevice device(printer.Set(), printer.Element());
    WideString id(u"previous");
    EXPECT_TRUE(device.GetDeviceInstanceId(id));
    EXPECT_EQ(printerInstanceId, Text(id));
    WideString untouched(u"previous");
    EXPECT_FALSE(CInstallDevice(nullptr, printer.Element()).GetDeviceInstanceId(untouched));
    EXPECT_FALSE(CInstallDevice(printer.Set(), nullptr).GetDeviceInstanceId(untouched));
    EXPECT_EQ(u"previous", Text(untouched));
}

TEST_F(UsbCompanionBindingTest, GetRegistryPropertyStringReadsTextUpToItsFirstNul) {
    printer.SetDescription(u"Alpha 100 Printer");
    winsim::SetDeviceProperty(printer.InstanceId(), SPDRP_HARDWAREID, REG_MULTI_SZ,
                              winsim::StringBytes(std::u16string(u"USBPRINT\\ALPHA\0GENERIC\0", 23)));
    CInstallDevice device(printer.Set(), printer.Element());
    WideString text;
    EXPECT_TRUE(device.GetRegistryPropertyString(SPDRP_DEVICEDESC, text));
    EXPECT_EQ(u"Alpha 100 Printer", Text(text));
    EXPECT_TRUE(device.GetRegistryPropertyString(SPDRP_HARDWAREID, text));
    EXPECT_EQ(u"USBPRINT\\ALPHA", Text(text));

    WideString untouched(u"previous");
    EXPECT_FALSE(device.GetRegistryPropertyString(SPDRP_FRIENDLYNAME, untouched));
    EXPECT_FALSE(
        CInstallDevice(printer.Set(), nullptr).GetRegistryPropertyString(SPDRP_DEVICEDESC, untouched));
    EXPECT_EQ(u"previous", Text(untouched));
}

} // namespace
