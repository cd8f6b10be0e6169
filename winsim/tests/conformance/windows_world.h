// The conformance checks' world on Windows (or Wine). Built only for Windows.
#pragma once

#include "conformance.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"

#include <memory>
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
    const char* AddHardLink(const std::string& linkPath, const std::string& targetPath) override;

  private:
    std::string reason_;
    // What the checks had prepared, removed again by Clear.
    std::vector<std::unique_ptr<winetest::TestDevice>> devices_;
    std::vector<std::unique_ptr<winetest::TestPrinter>> printers_;
};
