// The fixture of the Win32 conformance checks of conformance/ over the simulation: the world prepared
// through the simulation's control API, emptied before and after each test, which must leave no handle
// open.
#include "conformance/conformance.h"
#include "simulated_world.h"

#include "winsim/kernel/drive_mapping.h"

#include <filesystem>
#include <system_error>

namespace {

class SimulatedConformanceWorld : public ConformanceWorld {
  public:
    const char* Name() const override { return "simulation"; }
    void Clear() override { winsim::Reset(); }
    void DeleteKeyTree(HKEY root, const WCHAR* path) override { winsim::DeleteKeyTree(root, path); }
    const char* RestrictKeyAccess(HKEY root, const WCHAR* path, REGSAM allowed) override {
        winsim::RestrictKeyAccess(root, path, allowed);
        return nullptr;
    }
    const char* CreateDevice(const WCHAR* instanceId, const WCHAR* description, HDEVINFO* set,
                             SP_DEVINFO_DATA* element) override {
        winsim::AddDevice(instanceId);
        if (description != nullptr) {
            winsim::SetDeviceStringProperty(instanceId, SPDRP_DEVICEDESC, description);
        }
        *set = winsim::CreateDeviceSet(instanceId, element);
        return nullptr;
    }
    const char* AddPresentInterface(const WCHAR* instanceId, const GUID& interfaceClass) override {
        winsim::AddDevice(instanceId, true);
        winsim::AddInterface(instanceId, interfaceClass);
        return nullptr;
    }
    const char* AddLocalPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port,
                                const WCHAR* valueName, const WCHAR* valueText) override {
        winsim::AddPrinter(name, driver, port);
        if (valueName != nullptr) {
            winsim::SetPrinterStringData(name, valueName, valueText);
        }
        return nullptr;
    }
    const char* AddHardLink(const std::string& linkPath, const std::string& targetPath) override {
        std::error_code error;
        std::filesystem::create_hard_link(winsim_detail::ToHostPath(targetPath.c_str()).c_str(),
                                          winsim_detail::ToHostPath(linkPath.c_str()).c_str(), error);
        return error ? "the host could not make the hard link" : nullptr;
    }
};

} // namespace

std::unique_ptr<ConformanceWorld> NewConformanceWorld() {
    return std::make_unique<SimulatedConformanceWorld>();
}

void ConformanceCheck::TearDown() {
    if (!IsSkipped()) {
        EXPECT_EQ(0u, winsim::OpenKeyCount()) << "the check left registry handles open";
        EXPECT_EQ(0u, winsim::OpenPrinterCount()) << "the check left printer handles open";
        EXPECT_EQ(0u, winsim::OpenDeviceSetCount()) << "the check left device sets open";
    }
    world.Clear();
}
