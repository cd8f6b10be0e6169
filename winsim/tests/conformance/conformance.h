// Conformance checks of the Win32 behaviour this project relies on, GoogleTest tests written once against
// the Win32 API and a small world interface, TEST_F(ConformanceCheck, Name), and run both over the host
// simulation (inside winsim_tests) and on Windows or Wine (the program conformance.exe). Each side
// supplies its own ConformanceWorld.
#pragma once

#include "tests/two_sided/two_sided_test.h"

#include <memory>
#include <string>

// How a side prepares the world that the checks need. Each preparing function returns null when done,
// or the reason this side cannot do it; the check is then skipped with that reason.
class ConformanceWorld {
  public:
    virtual ~ConformanceWorld() = default;
    virtual const char* Name() const = 0;
    // Wine is the reference where Windows is not at hand, but it lacks a few behaviours of Windows.
    virtual bool IsWine() const { return false; }
    // Removes everything the checks create: the test key tree under HKEY_CURRENT_USER, devices, printers.
    virtual void Clear() = 0;
    virtual void DeleteKeyTree(HKEY root, const WCHAR* path) = 0;
    virtual const char* RestrictKeyAccess(HKEY root, const WCHAR* path, REGSAM allowed) = 0;
    // A device information set holding one device, as the installation service hands it to a
    // co-installer; `description` (may be null) becomes its SPDRP_DEVICEDESC.
    virtual const char* CreateDevice(const WCHAR* instanceId, const WCHAR* description, HDEVINFO* set,
                                     SP_DEVINFO_DATA* element) = 0;
    // A present device exposing one interface of `interfaceClass`.
    virtual const char* AddPresentInterface(const WCHAR* instanceId, const GUID& interfaceClass) = 0;
    // A local printer with a string printer-data value (`valueName` may be null for none).
    virtual const char* AddLocalPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port,
                                        const WCHAR* valueName, const WCHAR* valueText) = 0;
    // A second name (a hard link) `linkPath` for the existing file `targetPath`, both Windows paths.
    virtual const char* AddHardLink(const std::string& linkPath, const std::string& targetPath) = 0;
};

// The checks' fixture: each test gets `world`, its side's world. Each side defines NewConformanceWorld and
// ConformanceCheck::TearDown (on the host: no handle left open).
std::unique_ptr<ConformanceWorld> NewConformanceWorld();

class ConformanceCheck : public TwoSidedTest<ConformanceWorld, NewConformanceWorld> {
  protected:
    void TearDown() override;
};

// The key under HKEY_CURRENT_USER that the checks use, and that ConformanceWorld::Clear removes.
#define CONFORMANCE_KEY W("Software\\VracoinsConformance")
