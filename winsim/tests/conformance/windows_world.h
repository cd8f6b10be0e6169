// The conformance checks' world on Windows (or Wine). Built only for Windows.
#pragma once

#include "conformance.h"

#include <string>
#include <vector>

class WindowsConformanceWorld : public ConformanceWorld {
  public:
    const char* Name() const override;
    bool IsWine() const override;
    void Clear() override;
    void DeleteKeyTree(HKEY root, const WCHAR* path) override;
    const char* RestrictKeyAccess(HKEY root, const WCHAR* path, REGSAM allowed) override;
    const char* CreateDevice(const WCHAR* instanceId, const WCHAR* description, HDEVINFO* set,
                             SP_DEVINFO_DATA* element) override;
    const char* AddPresentInterface(const WCHAR* instanceId, const GUID& interfaceClass) override;
    const char* AddLocalPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port,
                                const WCHAR* valueName, const WCHAR* valueText) override;

  private:
    char reason_[160] = {};
    std::vector<std::wstring> createdDevices_; // registered devices, removed again by Clear
};
