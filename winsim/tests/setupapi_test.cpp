// Conformance of the simulated SetupAPI with the Win32 behaviour the co-installer relies on: size
// protocols, error codes, the last error after successful calls, letter case of instance ids, and
// interface enumeration, detail and registry keys.
#include "simulated_world.h"

#include <cstring>
#include <vector>

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

TEST_F(SetupApi, InstanceIdSizeIsInCharactersWithTheNulAndTheTextIsReturnedAsStored) {
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(kPrinterId, &element);
    DWORD required = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &element, nullptr, 0, &required));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(kPrinterId.size() + 1, required);

    std::vector<WCHAR> buffer(required, u'#');
    DWORD returned = 0;
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &element, buffer.data(), required - 1, &returned));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());

    SetLastError(kUntouched);
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &element, buffer.data(), required, &returned));
    EXPECT_EQ(0u, GetLastError()) << "a successful SetupAPI call sets the last error to 0";
    EXPECT_EQ(required, returned);
    EXPECT_EQ(Utf8(kPrinterId), Utf8(buffer.data()));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApi, InstanceIdsAreLookedUpWithoutRegardToLetterCase) {
    winsim::AddDevice(kCompanionId);
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(u"usb\\vid_1234&pid_5678\\SERIAL01", &element);
    WCHAR buffer[128] = {};
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &element, buffer, 128, nullptr));
    EXPECT_EQ(Utf8(kCompanionId), Utf8(buffer)) << "the id as the device was added, not as it was asked for";
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, BadSetsAndElementsAreRefusedWithTheirOwnErrors) {
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(kPrinterId, &element);
    WCHAR buffer[128];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(nullptr, &element, buffer, 128, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(INVALID_HANDLE_VALUE, &element, buffer, 128, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, nullptr, buffer, 128, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SP_DEVINFO_DATA wrongSize = element;
    wrongSize.cbSize = 28;
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &wrongSize, buffer, 128, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    BYTE property[8];
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, nullptr, SPDRP_DEVICEDESC, nullptr, property, 8, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &element, buffer, 128, nullptr)) << "the set was destroyed";
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(SetupApi, PropertySizesAreInBytesAndMissingOrEmptyPropertiesAreInvalidData) {
    winsim::SetDeviceStringProperty(kPrinterId, SPDRP_DEVICEDESC, u"Alpha 100");
    winsim::SetDeviceProperty(kPrinterId, SPDRP_FRIENDLYNAME, REG_SZ, winsim::Bytes{});
    SP_DEVINFO_DATA element{};
    HDEVINFO set = winsim::CreateDeviceSet(kPrinterId, &element);

    DWORD type = 0;
    DWORD required = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, &type, nullptr, 0, &required));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(20u, required) << "nine characters and the NUL, in bytes";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    std::vector<BYTE> buffer(required);
    DWORD returned = 0;
    SetLastError(kUntouched);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, nullptr, buffer.data(),
                                                  required, &returned));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(required, returned);
    EXPECT_EQ("Alpha 100", Utf8(reinterpret_cast<const WCHAR*>(buffer.data())));

    required = kUntouched;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_HARDWAREID, nullptr, nullptr, 0, &required));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_FRIENDLYNAME, nullptr, buffer.data(),
                                                   required, &returned));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError()) << "an empty property reads as a missing one";
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

TEST_F(SetupApi, AnEmptyInterfaceListEndsAtIndexZero) {
    HDEVINFO list = Interfaces(kCompanionClass);
    EXPECT_EQ(0u, GetLastError()) << "SetupDiGetClassDevsW succeeded";
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kCompanionClass, 0, &data));
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, GetLastError());
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kCompanionClass, 0, &data));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SetupApi, InterfaceDetailReportsItsSizeAndFillsTheExposingDevice) {
    winsim::AddInterface(kCompanionId, kCompanionClass);
    HDEVINFO list = Interfaces(kCompanionClass);
    SP_DEVICE_INTERFACE_DATA data = Interface(list, kCompanionClass, 0);

    DWORD required = 0;
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(element);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, &element));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_GT(required, 8u);
    EXPECT_EQ(0u, (required - 4) % 2) << "offset of DevicePath plus whole UTF-16 characters";
    EXPECT_NE(0u, element.DevInst) << "the element is filled even when the buffer is too small";

    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, required, &required, nullptr));
    EXPECT_EQ(ERROR_INVALID_USER_BUFFER, GetLastError()) << "a size without a buffer";

    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, &required, nullptr));
    EXPECT_EQ(ERROR_INVALID_USER_BUFFER, GetLastError()) << "cbSize must be 8 on 64-bit Windows";

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA exposing{};
    exposing.cbSize = sizeof(exposing);
    SetLastError(kUntouched);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, &required, &exposing));
    EXPECT_EQ(0u, GetLastError());
    std::string path = Utf8(detail->DevicePath);
    EXPECT_EQ(0u, path.rfind("\\\\?\\usb#vid_1234&pid_5678#serial01#", 0)) << "device path " << path;
    EXPECT_EQ((path.size() + 1) * 2 + 4, required);

    WCHAR id[2048];
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(list, &exposing, id, 2048, nullptr))
        << "error " << GetLastError();
    EXPECT_EQ(Utf8(kCompanionId), Utf8(id));
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(SetupApi, InterfaceRegistryKeyOpensWithTheRequestedAccess) {
    std::u16string keyPath = winsim::AddInterface(kCompanionId, kCompanionClass);
    HDEVINFO list = Interfaces(kCompanionClass);
    SP_DEVICE_INTERFACE_DATA data = Interface(list, kCompanionClass, 0);
    SetLastError(kUntouched);
    HKEY key = SetupDiCreateDeviceInterfaceRegKeyW(list, &data, 0, KEY_WRITE, nullptr, nullptr);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key) << "error " << GetLastError();
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(1u, winsim::OpenKeyCount());
    const WCHAR port[] = W("USB001");
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, W("PortName"), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(port), sizeof(port)));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(key, W("PortName"), nullptr, nullptr, nullptr, &size));
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

TEST_F(SetupApi, DeviceSetsAreCountedUntilDestroyedOnce) {
    HDEVINFO first = winsim::CreateDeviceSet(kPrinterId, nullptr);
    HDEVINFO second = Interfaces(kCompanionClass);
    EXPECT_EQ(2u, winsim::OpenDeviceSetCount());
    SetLastError(kUntouched);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(first));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(first));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(second));
    EXPECT_EQ(0u, winsim::OpenDeviceSetCount());
}

} // namespace
