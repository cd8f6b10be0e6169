// What only the host shows of the simulated SetupAPI: the control API's devices (looked up without regard
// to letter case, present or absent, with empty properties and interface keys it names and limits), and
// the accounting of device sets and interface keys. The Win32 behaviour that Windows and Wine show as
// well is checked on both sides by conformance/setupapi_checks.cpp.
#include "simulated_world.h"

#include <cstring>

namespace {

const GUID kCompanionClass = {0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}};
const GUID kOtherClass = {0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}};
const std::u16string kPrinterId = u"USBPRINT\\Vendor_Model\\7&1A2B3C&0&USB001";
const std::u16string kCompanionId = u"USB\\VID_1234&PID_5678\\Serial01";
constexpr DWORD kUntouched = 0xDEADBEEF;

class SetupApi : public SimulatedWorld {
  protected:
    HDEVINFO Interfaces(const GUID& cls) {
        HDEVINFO list = SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        EXPECT_NE(INVALID_HANDLE_VALUE, list) << "error " << GetLastError();
        return list;
    }
    SP_DEVICE_INTERFACE_DATA Interface(HDEVINFO list, const GUID& cls, DWORD index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        EXPECT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &cls, index, &data))
            << "error " << GetLastError();
        return data;
    }
};

TEST_F(SetupApi, InstanceIdsAreLookedUpWithoutRegardToLetterCase) {
    winsim::AddDevice(kCompanionId);
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(u"usb\\vid_1234&pid_5678\\SERIAL01", &element);
    WCHAR buffer[128] = {};
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &element, buffer, 128, nullptr));
    EXPECT_EQ(Utf8(kCompanionId), Utf8(buffer)) << "the id as the device was added, not as it was asked for";
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, AnEmptyPropertyReadsAsAMissingOne) {
    winsim::SetDeviceProperty(kPrinterId, SPDRP_FRIENDLYNAME, REG_SZ, winsim::Bytes{});
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(kPrinterId, &element);
    BYTE buffer[64];
    DWORD returned = 0;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_FRIENDLYNAME, nullptr, buffer,
                                                   sizeof(buffer), &returned));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, APropertyChangedAfterItsProbeIsReadWithItsNewSize) {
    winsim::SetDeviceStringProperty(kPrinterId, SPDRP_DEVICEDESC, u"Alpha 100 Printer");
    winsim::ChangeDevicePropertyAfterProbe(kPrinterId, SPDRP_DEVICEDESC, REG_SZ,
                                           winsim::StringBytes(u"Alpha"));
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(kPrinterId, &element);
    BYTE buffer[64];
    DWORD reported = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, nullptr, nullptr, 0, &reported));
    EXPECT_EQ(36u, reported) << "the probe reports the size from before the change";
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, nullptr, buffer, reported,
                                                  &reported));
    EXPECT_EQ(12u, reported) << "the read reports the changed size";
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, InterfaceListsHoldOnlyPresentDevicesWithInterfacesOfTheClass) {
    winsim::AddInterface(kCompanionId, kCompanionClass);
    winsim::AddDevice(u"USB\\VID_1234&PID_5678\\Absent", false);
    winsim::AddInterface(u"USB\\VID_1234&PID_5678\\Absent", kCompanionClass);
    winsim::AddInterface(u"USB\\VID_9999&PID_0001\\Other", kOtherClass);

    HDEVINFO list = Interfaces(kCompanionClass);
    SP_DEVICE_INTERFACE_DATA data = Interface(list, kCompanionClass, 0);
    EXPECT_EQ(0, std::memcmp(&kCompanionClass, &data.InterfaceClassGuid, sizeof(GUID)));
    SetLastError(kUntouched);
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kCompanionClass, 1, &data));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError()) << "the absent device and the other class are not listed";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));

    list = Interfaces(kOtherClass);
    Interface(list, kOtherClass, 0);
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SetupApi, InterfaceKeysAreCountedRegistryKeysAtThePathAddInterfaceAnswers) {
    std::u16string keyPath = winsim::AddInterface(kCompanionId, kCompanionClass);
    HDEVINFO list = Interfaces(kCompanionClass);
    SP_DEVICE_INTERFACE_DATA data = Interface(list, kCompanionClass, 0);
    HKEY key = SetupDiCreateDeviceInterfaceRegKeyW(list, &data, 0, KEY_WRITE, nullptr, nullptr);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key) << "error " << GetLastError();
    EXPECT_EQ(1u, winsim::OpenKeyCount());
    const WCHAR port[] = W("USB001");
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, W("PortName"), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(port), sizeof(port)));
    std::u16string written;
    EXPECT_TRUE(winsim::GetStringValue(HKEY_LOCAL_MACHINE, keyPath, u"PortName", &written));
    EXPECT_EQ("USB001", Utf8(written));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(0u, winsim::OpenKeyCount());
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SetupApi, ARefusedInterfaceKeyAnswersInvalidHandleValueAndTheRegistryError) {
    std::u16string keyPath = winsim::AddInterface(kCompanionId, kCompanionClass);
    winsim::RestrictKeyAccess(HKEY_LOCAL_MACHINE, keyPath, KEY_READ);
    HDEVINFO list = Interfaces(kCompanionClass);
    SP_DEVICE_INTERFACE_DATA data = Interface(list, kCompanionClass, 0);
    HKEY key = SetupDiCreateDeviceInterfaceRegKeyW(list, &data, 0, KEY_WRITE, nullptr, nullptr);
    EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(0u, winsim::OpenKeyCount());
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SetupApi, DeviceSetsAreCountedUntilDestroyedOnceAndRefusedAfterwards) {
    SP_DEVINFO_DATA element{};
    HDEVINFO first = winsim::CreateDeviceSet(kPrinterId, &element);
    HDEVINFO second = Interfaces(kCompanionClass);
    EXPECT_EQ(2u, winsim::OpenDeviceSetCount());
    SetLastError(kUntouched);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(first));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(first));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    WCHAR buffer[128];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(first, &element, buffer, 128, nullptr))
        << "the set was destroyed";
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(second));
    EXPECT_EQ(0u, winsim::OpenDeviceSetCount());
}

} // namespace
