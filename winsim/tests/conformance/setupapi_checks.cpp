// SetupAPI behaviour the co-installer relies on: the size protocols of instance ids, properties and
// interface details, the errors for bad sets and elements, the last error after successful calls, and
// the enumeration of present devices' interfaces.
#include "conformance.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

const WCHAR* const kDeviceId = W("ROOT\\VRACONFORMANCE\\0000");
const GUID kInterfaceClass = {0x6A55B5A4, 0x3F65, 0x11DB, {0xB7, 0x04, 0x00, 0x11, 0x95, 0x5C, 0x2B, 0xDB}};
constexpr DWORD kUntouched = 0xDEADBEEF;

// Letter case of device paths differs between systems; an ASCII prefix is compared without regard to it.
bool StartsWithIgnoringCase(const WCHAR* text, const char* prefix) {
    const std::string narrow = Narrow(text);
    size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= narrow.size() || std::tolower(static_cast<unsigned char>(narrow[i])) !=
                                      std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST_F(ConformanceCheck, InstanceIdSizeCountsCharactersWithTheNul) {
    world.Clear();
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA element{};
    SKIP_UNLESS_PREPARED(world.CreateDevice(kDeviceId, nullptr, &set, &element));
    DWORD required = 0;
    SetLastError(kUntouched);
    BOOL ok = SetupDiGetDeviceInstanceIdW(set, &element, nullptr, 0, &required);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("probe: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(required == TextLength(kDeviceId) + 1)
        << Formatted("got required %lu", static_cast<unsigned long>(required));
    std::vector<WCHAR> buffer(required + 4, 0x23);
    DWORD returned = 0;
    ok = SetupDiGetDeviceInstanceIdW(set, &element, buffer.data(), required - 1, &returned);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) << Formatted(
        "one character short: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    SetLastError(kUntouched);
    ok = SetupDiGetDeviceInstanceIdW(set, &element, buffer.data(), required, &returned);
    EXPECT_TRUE(ok) << Formatted("read: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE_EXCEPT_ON_WINE("Wine's SetupAPI leaves the last error as it was after a success",
                               GetLastError() == 0)
        << Formatted("last error after success: %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(returned == required)
        << Formatted("got returned %lu for required %lu", static_cast<unsigned long>(returned),
                     static_cast<unsigned long>(required));
    EXPECT_TRUE(SameText(buffer.data(), kDeviceId)) << Formatted("got id %s", Narrow(buffer.data()).c_str());
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(ConformanceCheck, BadSetsAndElementsHaveTheirOwnErrors) {
    world.Clear();
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA element{};
    SKIP_UNLESS_PREPARED(world.CreateDevice(kDeviceId, nullptr, &set, &element));
    WCHAR buffer[64];
    BOOL ok = SetupDiGetDeviceInstanceIdW(nullptr, &element, buffer, 64, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_HANDLE)
        << Formatted("null set: error %lu", static_cast<unsigned long>(GetLastError()));
    ok = SetupDiGetDeviceInstanceIdW(INVALID_HANDLE_VALUE, &element, buffer, 64, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_HANDLE)
        << Formatted("invalid set: error %lu", static_cast<unsigned long>(GetLastError()));
    ok = SetupDiGetDeviceInstanceIdW(set, nullptr, buffer, 64, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_PARAMETER)
        << Formatted("null element: error %lu", static_cast<unsigned long>(GetLastError()));
    SP_DEVINFO_DATA wrongSize = element;
    wrongSize.cbSize = sizeof(SP_DEVINFO_DATA) - 4;
    ok = SetupDiGetDeviceInstanceIdW(set, &wrongSize, buffer, 64, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_PARAMETER)
        << Formatted("wrong cbSize: error %lu", static_cast<unsigned long>(GetLastError()));
    BYTE property[16];
    ok = SetupDiGetDeviceRegistryPropertyW(set, nullptr, SPDRP_DEVICEDESC, nullptr, property, 16, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_PARAMETER)
        << Formatted("property of a null element: error %lu", static_cast<unsigned long>(GetLastError()));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(ConformanceCheck, PropertySizesAreInBytesAndMissingPropertiesAreInvalidData) {
    world.Clear();
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA element{};
    SKIP_UNLESS_PREPARED(world.CreateDevice(kDeviceId, W("Alpha 100"), &set, &element));
    DWORD type = 0;
    DWORD required = 0;
    BOOL ok =
        SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, &type, nullptr, 0, &required);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("probe: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(required == 10 * sizeof(WCHAR) && type == REG_SZ) << Formatted(
        "got required %lu, type %lu", static_cast<unsigned long>(required), static_cast<unsigned long>(type));
    std::vector<BYTE> buffer(required + 8, 0);
    DWORD returned = 0;
    SetLastError(kUntouched);
    ok = SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DEVICEDESC, nullptr, buffer.data(), required,
                                           &returned);
    EXPECT_TRUE(ok) << Formatted("read: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE_EXCEPT_ON_WINE("Wine's SetupAPI leaves the last error as it was after a success",
                               GetLastError() == 0)
        << Formatted("last error after success: %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(returned == required) << Formatted("got returned %lu", static_cast<unsigned long>(returned));
    EXPECT_TRUE(SameText(reinterpret_cast<const WCHAR*>(buffer.data()), W("Alpha 100")))
        << Formatted("got %s", Narrow(reinterpret_cast<const WCHAR*>(buffer.data())).c_str());
    ok = SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0, &required);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_DATA) << Formatted(
        "missing property: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(ConformanceCheck, PresentInterfacesEnumerateWithDetailAndDevice) {
    world.Clear();
    SKIP_UNLESS_PREPARED(world.AddPresentInterface(kDeviceId, kInterfaceClass));
    const char* const keepsLastError = "Wine's SetupAPI leaves the last error as it was after a success";
    SetLastError(kUntouched);
    HDEVINFO list =
        SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(list != INVALID_HANDLE_VALUE)
        << Formatted("list: error %lu", static_cast<unsigned long>(GetLastError()));
    if (list == INVALID_HANDLE_VALUE) {
        return;
    }
    EXPECT_TRUE_EXCEPT_ON_WINE(keepsLastError, GetLastError() == 0)
        << Formatted("list: last error %lu", static_cast<unsigned long>(GetLastError()));
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    SetLastError(kUntouched);
    BOOL ok = SetupDiEnumDeviceInterfaces(list, nullptr, &kInterfaceClass, 0, &data);
    EXPECT_TRUE(ok) << Formatted("index 0: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE_EXCEPT_ON_WINE(keepsLastError, GetLastError() == 0)
        << Formatted("index 0: last error %lu", static_cast<unsigned long>(GetLastError()));

    DWORD required = 0;
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(element);
    ok = SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, &element);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("detail probe: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(element.DevInst != 0 || element.Reserved != 0)
        << Formatted("the probe fills the element as well");
    ok = SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, required, &required, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_USER_BUFFER) << Formatted(
        "a size without a buffer: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = 6;
    ok = SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, &required, nullptr);
    EXPECT_TRUE_EXCEPT_ON_WINE(
        "Wine's SetupAPI also takes 6, the structure's size on 32-bit Windows, as cbSize",
        !ok && GetLastError() == ERROR_INVALID_USER_BUFFER)
        << Formatted("cbSize 6 instead of 8: result %d, error %lu", ok,
                     static_cast<unsigned long>(GetLastError()));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SetLastError(kUntouched);
    ok = SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, &required, &element);
    EXPECT_TRUE(ok) << Formatted("detail: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE_EXCEPT_ON_WINE(keepsLastError, GetLastError() == 0)
        << Formatted("detail: last error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(required == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                (TextLength(detail->DevicePath) + 1) * sizeof(WCHAR))
        << Formatted("got required %lu for path %s", static_cast<unsigned long>(required),
                     Narrow(detail->DevicePath).c_str());
    EXPECT_TRUE(StartsWithIgnoringCase(detail->DevicePath, "\\\\?\\ROOT#VRACONFORMANCE#0000#"))
        << Formatted("the device path names the device: %s", Narrow(detail->DevicePath).c_str());
    WCHAR id[2048];
    ok = SetupDiGetDeviceInstanceIdW(list, &element, id, 2048, nullptr);
    EXPECT_TRUE(ok && SameText(id, kDeviceId))
        << Formatted("exposing device: result %d, id %s", ok, Narrow(ok ? id : nullptr).c_str());

    SetLastError(kUntouched);
    HKEY key = SetupDiCreateDeviceInterfaceRegKeyW(list, &data, 0, KEY_WRITE, nullptr, nullptr);
    EXPECT_TRUE(key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))
        << Formatted("interface key: error %lu", static_cast<unsigned long>(GetLastError()));
    if (key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        EXPECT_TRUE_EXCEPT_ON_WINE(keepsLastError, GetLastError() == 0)
            << Formatted("interface key: last error %lu", static_cast<unsigned long>(GetLastError()));
        const WCHAR port[] = W("USB001");
        LSTATUS status =
            RegSetValueExW(key, W("PortName"), 0, REG_SZ, reinterpret_cast<const BYTE*>(port), sizeof(port));
        EXPECT_TRUE(status == ERROR_SUCCESS)
            << Formatted("writing through the interface key: status %ld", static_cast<long>(status));
        DWORD size = 0;
        status = RegQueryValueExW(key, W("PortName"), nullptr, nullptr, nullptr, &size);
        EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
            << Formatted("the key was opened with KEY_WRITE only: status %ld", static_cast<long>(status));
        RegCloseKey(key);
    }

    SP_DEVICE_INTERFACE_DATA past{};
    past.cbSize = sizeof(past);
    ok = SetupDiEnumDeviceInterfaces(list, nullptr, &kInterfaceClass, 1, &past);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_NO_MORE_ITEMS)
        << Formatted("index 1: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    SetupDiDestroyDeviceInfoList(list);
}

TEST_F(ConformanceCheck, AListWithoutInterfacesOfTheClassEndsAtIndexZero) {
    world.Clear();
    const GUID unused = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    HDEVINFO list = SetupDiGetClassDevsW(&unused, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(list != INVALID_HANDLE_VALUE)
        << Formatted("list: error %lu", static_cast<unsigned long>(GetLastError()));
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    BOOL ok = SetupDiEnumDeviceInterfaces(list, nullptr, &unused, 0, &data);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_NO_MORE_ITEMS)
        << Formatted("index 0: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    data.cbSize = sizeof(data) - 4;
    ok = SetupDiEnumDeviceInterfaces(list, nullptr, &unused, 0, &data);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_PARAMETER)
        << Formatted("wrong cbSize: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    SetLastError(kUntouched);
    ok = SetupDiDestroyDeviceInfoList(list);
    EXPECT_TRUE(ok && GetLastError() == 0)
        << Formatted("destroy: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    ok = SetupDiDestroyDeviceInfoList(nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_HANDLE)
        << Formatted("destroying null: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
}
