// The post pass with a print queue in the spooler: the stored queue name is consumed, and the queue is
// given the name composed from its printer data and its driver, made unique among the local printers.
// Where the spooler cannot rename at level 4 (Wine), the installation goes on and the queue keeps its name.
#include "behaviour_support.h"

#include <algorithm>

using namespace behaviour;

namespace {

const WCHAR* const kDeviceEnumerator = W("VraQueuePrinter");
const WCHAR* const kDeviceDescription = W("Alpha 100 Printer");
const WCHAR* const kPclDriver = W("Example PCL 6 Driver");
const WCHAR* const kUntaggedDriver = W("Example Generic Driver");
const WideText kQueueName = W("Alpha Queue");
// The printer data that names the queue lies under the queue's port name.
const WCHAR* const kQueuePort = W("FILE:");
const WCHAR* const kPrinterDataText = W("Alpha 100");
const WideText kComposedName = W("Alpha 100 VRA PCL 6");

bool HasPrinter(BehaviourWorld& world, const WideText& name) {
    const std::vector<WideText> names = world.PrinterNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

// Adds the queue `name` with the driver on the port, or ends the check as failed with the spooler's reason.
#define ADD_PRINTER_OR_FAIL(name, driver, port)                                                              \
    do {                                                                                                     \
        const char* why_ = world.AddPrinter(name, driver, port);                                             \
        ASSERT_TRUE(why_ == nullptr) << "cannot add the queue \"" << Narrow(name) << "\": " << why_;         \
    } while (0)

// After a post pass that was to rename the queue to `expected`: the rename where the spooler renames, and
// where it cannot, the queue untouched and the check skipped with the spooler's limitation.
#define CHECK_RENAMED_OR_SKIP(expected)                                                                      \
    do {                                                                                                     \
        if (const char* limitation_ = world.RenameLimitation()) {                                            \
            EXPECT_TRUE(HasPrinter(world, kQueueName))                                                       \
                << "the queue must keep its name \"Alpha Queue\" when the spooler refuses the rename";       \
            EXPECT_TRUE(!HasPrinter(world, expected))                                                        \
                << "no queue may bear \"" << Narrow(expected) << "\" when the spooler refuses renames";      \
            GTEST_SKIP() << "renaming the queue to \"" << Narrow(expected) << "\": " << limitation_;         \
        }                                                                                                    \
        EXPECT_TRUE(HasPrinter(world, expected))                                                             \
            << "expected the queue renamed to \"" << Narrow(expected) << "\"";                               \
        EXPECT_TRUE(!HasPrinter(world, kQueueName))                                                          \
            << "expected no queue left under the old name \"Alpha Queue\"";                                  \
    } while (0)

TEST_F(BehaviourCheck, PostPassNamesTheQueueAfterItsPrinterDataAndDriver) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    const LONG stored = world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    EXPECT_TRUE(stored == ERROR_SUCCESS) << Formatted("cannot store the printer data: error %ld", stored);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    const StoredValue name = UserSetting(world, names::originalPrinterName);
    EXPECT_TRUE(name.status == ERROR_FILE_NOT_FOUND)
        << Formatted("expected InstallContextOriginalPrinterName deleted, got status %ld", name.status);
    const StoredValue context = UserSetting(world, names::installContext);
    EXPECT_TRUE(context.status == ERROR_FILE_NOT_FOUND)
        << Formatted("expected InstallContext deleted, got status %ld", context.status);
    CHECK_RENAMED_OR_SKIP(kComposedName);
}

TEST_F(BehaviourCheck, AComposedNameThatALocalPrinterBearsGetsACopyNumber) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kComposedName.c_str(), kPclDriver, W("LPT1:"));
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    EXPECT_TRUE(HasPrinter(world, kComposedName))
        << Formatted("the printer that holds \"%s\" must keep it", Narrow(kComposedName).c_str());
    CHECK_RENAMED_OR_SKIP(kComposedName + W(" (Copy 1)"));
}

TEST_F(BehaviourCheck, AQueueWithoutPrinterDataKeepsItsName) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    EXPECT_TRUE(HasPrinter(world, kQueueName)) << "expected the queue's name \"Alpha Queue\" kept";
    EXPECT_TRUE(!UserSetting(world, names::originalPrinterName).Exists())
        << "expected InstallContextOriginalPrinterName deleted although nothing was renamed";
}

TEST_F(BehaviourCheck, AQueueWhoseDriverNameHasNoLanguageTagKeepsItsName) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kUntaggedDriver, kQueuePort);
    world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    EXPECT_TRUE(answer == NO_ERROR) << Formatted("expected 0, got %#lx", answer);
    EXPECT_TRUE(HasPrinter(world, kQueueName)) << "expected the queue's name \"Alpha Queue\" kept";
    EXPECT_TRUE(!HasPrinter(world, W("Alpha 100 VRA"))) << "no name may be composed without a language tag";
}
