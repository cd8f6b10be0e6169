// The post pass with a print queue in the spooler: the stored queue name is consumed, and the queue is
// given the name composed from its printer data and its driver, made unique among the local printers.
// Where the spooler cannot rename at level 4 (Wine), the installation goes on and the queue keeps its name.
#include "behaviour_support.h"

#include <algorithm>
#include <cstdio>

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
        if (!CHECK(why_ == nullptr, "cannot add the queue \"%s\": %s", Narrow(name).c_str(), why_)) {        \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)

// After a post pass that was to rename the queue to `expected`: the rename where the spooler renames, and
// where it cannot, the queue untouched and the check skipped with the spooler's limitation.
#define CHECK_RENAMED_OR_SKIP(expected)                                                                      \
    do {                                                                                                     \
        if (const char* limitation_ = world.RenameLimitation()) {                                            \
            CHECK(HasPrinter(world, kQueueName),                                                             \
                  "the queue must keep its name \"Alpha Queue\" when the spooler refuses the rename");       \
            CHECK(!HasPrinter(world, expected), "no queue may bear \"%s\" when the spooler refuses renames", \
                  Narrow(expected).c_str());                                                                 \
            char reason_[320];                                                                               \
            std::snprintf(reason_, sizeof(reason_), "renaming the queue to \"%s\": %s",                      \
                          Narrow(expected).c_str(), limitation_);                                            \
            SKIP_CHECK(reason_);                                                                             \
        }                                                                                                    \
        CHECK(HasPrinter(world, expected), "expected the queue renamed to \"%s\"",                           \
              Narrow(expected).c_str());                                                                     \
        CHECK(!HasPrinter(world, kQueueName), "expected no queue left under the old name \"Alpha Queue\"");  \
    } while (0)

BEHAVIOUR_CHECK(PostPassNamesTheQueueAfterItsPrinterDataAndDriver) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    const LONG stored = world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    CHECK(stored == ERROR_SUCCESS, "cannot store the printer data: error %ld", stored);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    const StoredValue name = UserSetting(world, names::originalPrinterName);
    CHECK(name.status == ERROR_FILE_NOT_FOUND,
          "expected InstallContextOriginalPrinterName deleted, got status %ld", name.status);
    const StoredValue context = UserSetting(world, names::installContext);
    CHECK(context.status == ERROR_FILE_NOT_FOUND, "expected InstallContext deleted, got status %ld",
          context.status);
    CHECK_RENAMED_OR_SKIP(kComposedName);
}

BEHAVIOUR_CHECK(AComposedNameThatALocalPrinterBearsGetsACopyNumber) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kComposedName.c_str(), kPclDriver, W("LPT1:"));
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    CHECK(HasPrinter(world, kComposedName), "the printer that holds \"%s\" must keep it",
          Narrow(kComposedName).c_str());
    CHECK_RENAMED_OR_SKIP(kComposedName + W(" (Copy 1)"));
}

BEHAVIOUR_CHECK(AQueueWithoutPrinterDataKeepsItsName) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kPclDriver, kQueuePort);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    CHECK(HasPrinter(world, kQueueName), "expected the queue's name \"Alpha Queue\" kept");
    CHECK(!UserSetting(world, names::originalPrinterName).Exists(),
          "expected InstallContextOriginalPrinterName deleted although nothing was renamed");
}

BEHAVIOUR_CHECK(AQueueWhoseDriverNameHasNoLanguageTagKeepsItsName) {
    LOAD_MODULE_OR_SKIP(ModuleBuild::Shipped);
    ADD_DEVICE_OR_FAIL(device, kDeviceEnumerator, kDeviceDescription, names::printerSetupClass);
    device->SetHardwareText(names::portName, kQueuePort);
    ADD_PRINTER_OR_FAIL(kQueueName.c_str(), kUntaggedDriver, kQueuePort);
    world.SetPrinterDataText(kQueueName.c_str(), kQueuePort, kPrinterDataText);
    StorePrePassState(world, kQueueName.c_str());

    const DWORD answer = PostPass(world, *device);
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    CHECK(HasPrinter(world, kQueueName), "expected the queue's name \"Alpha Queue\" kept");
    CHECK(!HasPrinter(world, W("Alpha 100 VRA")), "no name may be composed without a language tag");
}
