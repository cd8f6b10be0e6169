// The conformance checks' world on Windows (or Wine): what the checks need is prepared through the real
// services with the Windows test fixtures of tests/wine/support where an unprivileged test can do so, and
// refused with a reason where it cannot. Each test runs in a world of its own (the fixture at the end).
#include "windows_world.h"

#include "tests/wine/support/running_on_wine.h"

namespace {

const GUID kTestSetupClass = {0x6A55B5A5, 0x3F65, 0x11DB, {0xB7, 0x04, 0x00, 0x11, 0x95, 0x5C, 0x2B, 0xDB}};

} // namespace

const char* WindowsConformanceWorld::Name() const {
    return IsWine() ? "wine" : "windows";
}

bool WindowsConformanceWorld::IsWine() const {
    return winetest::RunningOnWine();
}

void WindowsConformanceWorld::Clear() {
    RegDeleteTreeW(HKEY_CURRENT_USER, CONFORMANCE_KEY);
    devices_.clear();
    printers_.clear();
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
        reason_ = "SetupDiCreateDeviceInfoW failed with error " + std::to_string(GetLastError()) +
                  " (administrator?)";
        SetupDiDestroyDeviceInfoList(*set);
        return reason_.c_str();
    }
    return nullptr;
}

const char* WindowsConformanceWorld::AddPresentInterface(const WCHAR* instanceId,
                                                         const GUID& interfaceClass) {
    if (!IsWine()) {
        return "a present device needs a started driver, which the Windows runner cannot install";
    }
    auto device = std::make_unique<winetest::TestDevice>(instanceId, nullptr, kTestSetupClass);
    if (!device->IsRegistered() || !device->ExposeInterface(interfaceClass)) {
        reason_ = "creating the device and its interface failed: " + device->Failure();
        return reason_.c_str();
    }
    devices_.push_back(std::move(device));
    return nullptr;
}

const char* WindowsConformanceWorld::AddLocalPrinter(const WCHAR* name, const WCHAR* driver,
                                                     const WCHAR* port, const WCHAR* valueName,
                                                     const WCHAR* valueText) {
    std::unique_ptr<winetest::TestPrinter> printer = winetest::AddTestPrinter(name, driver, port, &reason_);
    if (printer == nullptr) {
        return reason_.c_str();
    }
    if (valueName != nullptr) {
        printer->SetDataText(valueName, valueText);
    }
    printers_.push_back(std::move(printer));
    return nullptr;
}

std::unique_ptr<ConformanceWorld> NewConformanceWorld() {
    return std::make_unique<WindowsConformanceWorld>();
}

void ConformanceCheck::TearDown() {
    world.Clear();
}

const char* WindowsConformanceWorld::AddHardLink(const std::string& linkPath, const std::string& targetPath) {
    if (!CreateHardLinkA(linkPath.c_str(), targetPath.c_str(), nullptr)) {
        reason_ = "CreateHardLinkA failed with error " + std::to_string(GetLastError());
        return reason_.c_str();
    }
    return nullptr;
}
