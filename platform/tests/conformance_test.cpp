// Runs the Win32 conformance checks of conformance/ over the simulation, one gtest per check, with the
// world prepared through the simulation's control API.
#include "conformance/conformance.h"
#include "sim_test_support.h"

#include <ostream>
#include <string>

// Names the check in gtest's listings instead of dumping its bytes.
void PrintTo(const ConformanceCheck& check, std::ostream* out) {
    *out << check.name;
}

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
};

std::string skipReason;

void ReportFailure(const char* file, int line, const char* message) {
    ADD_FAILURE_AT(file, line) << message;
}

void ReportSkip(const char* check, const char* reason) {
    skipReason = std::string(check) + ": " + reason;
}

class Conformance : public SimulatedWorld, public ::testing::WithParamInterface<ConformanceCheck> {};

TEST_P(Conformance, OverTheSimulation) {
    TheConformanceSink().failed = ReportFailure;
    TheConformanceSink().skipped = ReportSkip;
    skipReason.clear();
    SimulatedConformanceWorld world;
    GetParam().run(world);
    if (!skipReason.empty()) {
        GTEST_SKIP() << skipReason;
    }
    EXPECT_EQ(0u, winsim::OpenKeyCount()) << "the check left registry handles open";
    EXPECT_EQ(0u, winsim::OpenPrinterCount()) << "the check left printer handles open";
    EXPECT_EQ(0u, winsim::OpenDeviceSetCount()) << "the check left device sets open";
}

INSTANTIATE_TEST_SUITE_P(Win32, Conformance, ::testing::ValuesIn(ConformanceChecks()),
                         [](const ::testing::TestParamInfo<ConformanceCheck>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
