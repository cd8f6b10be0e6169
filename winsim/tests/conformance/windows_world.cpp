// The conformance checks' world on Windows (or Wine): what the checks need is prepared through the real
// services where an unprivileged test can do so, and refused with a reason where it cannot.
#include "windows_world.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const GUID kTestSetupClass = {0x6A55B5A5, 0x3F65, 0x11DB, {0xB7, 0x04, 0x00, 0x11, 0x95, 0x5C, 0x2B, 0xDB}};

bool IsConformancePrinter(const WCHAR* name) {
    const WCHAR* prefix = W("Vracoins Conformance");
    for (; *prefix != 0; ++prefix, ++name) {
        if (*name != *prefix) {
            return false;
        }
    }
    return true;
}

// Installs a driver of the given name over the files of a driver that Wine already has, so that a test
// printer can be created without a driver package.
bool InstallDriver(const WCHAR* name) {
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pName = const_cast<LPWSTR>(name);
    info.pEnvironment = const_cast<LPWSTR>(W("Windows x64"));
    info.pDriverPath = const_cast<LPWSTR>(W("wineps.drv"));
    info.pDataFile = const_cast<LPWSTR>(W("generic.ppd"));
    info.pConfigFile = const_cast<LPWSTR>(W("wineps.drv"));
    if (AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info))) {
        return true;
    }
    std::printf("note: AddPrinterDriverW failed with error %lu\n",
                static_cast<unsigned long>(GetLastError()));
    return false;
}

// DeviceClasses\{class}\##?#<link name>\#\Control under HKEY_LOCAL_MACHINE, from the interface's device
// path "\\?\<link name>" whose last 38 characters are the class in braces.
bool MarkInterfaceLinked(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (required < 8 || !SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr)) {
        return false;
    }
    std::wstring path(detail->DevicePath);
    if (path.size() < 4 + 38) {
        return false;
    }
    std::wstring key = L"System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                       path.substr(path.size() - 38) + L"\\##?#" + path.substr(4) + L"\\#\\Control";
    HKEY control = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &control,
                        nullptr) != 0) {
        return false;
    }
    DWORD linked = 1;
    bool written =
        RegSetValueExW(control, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), 4) == 0;
    RegCloseKey(control);
    return written;
}

} // namespace

const char* WindowsConformanceWorld::Name() const {
    return IsWine() ? "wine" : "windows";
}

bool WindowsConformanceWorld::IsWine() const {
    HMODULE ntdll = GetModuleHandleW(W("ntdll.dll"));
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void WindowsConformanceWorld::Clear() {
    RegDeleteTreeW(HKEY_CURRENT_USER, CONFORMANCE_KEY);
    for (const std::wstring& id : createdDevices_) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof(element);
        if (SetupDiOpenDeviceInfoW(set, id.c_str(), nullptr, 0, &element)) {
            SetupDiRemoveDevice(set, &element);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    createdDevices_.clear();
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0) {
        return;
    }
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count)) {
        return;
    }
    auto* entries = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (IsConformancePrinter(entries[i].pPrinterName) &&
            OpenPrinterW(entries[i].pPrinterName, &printer, &defaults)) {
            DeletePrinter(printer);
            ClosePrinter(printer);
        }
    }
}

void WindowsConformanceWorld::DeleteKeyTree(HKEY root, const WCHAR* path) {
    RegDeleteTreeW(root, path);
}

const char* WindowsConformanceWorld::RestrictKeyAccess(HKEY, const WCHAR*, REGSAM) {
    return "limiting a key's access needs a security descriptor that the Windows runner does not set up";
}

const char* WindowsConformanceWorld::CreateDevice(const WCHAR* instanceId, const WCHAR* description,
                                                  HDEVINFO* set, SP_DEVINFO_DATA* element) {
    *set = SetupDiCreateDeviceInfoList(&kTestSetupClass, nullptr);
    if (*set == INVALID_HANDLE_VALUE) {
        return "SetupDiCreateDeviceInfoList failed";
    }
    element->cbSize = sizeof(SP_DEVINFO_DATA);
    // Not registered: the device lives in this set only and goes with it.
    if (!SetupDiCreateDeviceInfoW(*set, instanceId, &kTestSetupClass, description, nullptr, 0, element)) {
        std::snprintf(reason_, sizeof(reason_),
                      "SetupDiCreateDeviceInfoW failed with error %lu (administrator?)",
                      static_cast<unsigned long>(GetLastError()));
        SetupDiDestroyDeviceInfoList(*set);
        return reason_;
    }
    return nullptr;
}

const char* WindowsConformanceWorld::AddPresentInterface(const WCHAR* instanceId,
                                                         const GUID& interfaceClass) {
    if (!IsWine()) {
        return "a present device needs a started driver, which the Windows runner cannot install";
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kTestSetupClass, nullptr);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof(element);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    bool made = set != INVALID_HANDLE_VALUE &&
                SetupDiCreateDeviceInfoW(set, instanceId, &kTestSetupClass, nullptr, nullptr, 0, &element) &&
                SetupDiRegisterDeviceInfo(set, &element, 0, nullptr, nullptr, nullptr) &&
                SetupDiCreateDeviceInterfaceW(set, &element, &interfaceClass, nullptr, 0, &data);
    if (made) {
        // Wine counts an interface as present when its reference-string key holds Control\Linked = 1, as a
        // started driver's interface has it on Wine.
        made = MarkInterfaceLinked(set, data);
    }
    if (set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(set);
    }
    if (!made) {
        std::snprintf(reason_, sizeof(reason_), "creating the device and its interface failed with error %lu",
                      static_cast<unsigned long>(GetLastError()));
        return reason_;
    }
    createdDevices_.push_back(instanceId);
    return nullptr;
}

const char* WindowsConformanceWorld::AddLocalPrinter(const WCHAR* name, const WCHAR* driver,
                                                     const WCHAR* port, const WCHAR* valueName,
                                                     const WCHAR* valueText) {
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(name);
    info.pPortName = const_cast<LPWSTR>(port);
    info.pDriverName = const_cast<LPWSTR>(driver);
    info.pPrintProcessor = const_cast<LPWSTR>(W("WinPrint"));
    info.pDatatype = const_cast<LPWSTR>(W("RAW"));
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr && GetLastError() == ERROR_UNKNOWN_PRINTER_DRIVER && InstallDriver(driver)) {
        printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    }
    if (printer == nullptr) {
        std::snprintf(reason_, sizeof(reason_),
                      "AddPrinterW failed with error %lu (is the driver installed?)",
                      static_cast<unsigned long>(GetLastError()));
        return reason_;
    }
    if (valueName != nullptr) {
        DWORD bytes = static_cast<DWORD>((TextLength(valueText) + 1) * sizeof(WCHAR));
        SetPrinterDataW(printer, const_cast<LPWSTR>(valueName), REG_SZ,
                        reinterpret_cast<LPBYTE>(const_cast<WCHAR*>(valueText)), bytes);
    }
    ClosePrinter(printer);
    return nullptr;
}
