// The conformance checks' world on Windows (or Wine): what the checks need is prepared through the real
// services where an unprivileged test can do so, and refused with a reason where it cannot.
#include "windows_world.h"

#include <cstdio>

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

const char* WindowsConformanceWorld::AddPresentInterface(const WCHAR*, const GUID&) {
    return "a present device needs a started driver, which the Windows runner cannot install";
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
