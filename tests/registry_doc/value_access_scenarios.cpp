#include "value_access_scenarios.h"

#include "coinstaller/tests/install_scenario.h"
#include "simulated_machine.h"

#include <gtest/gtest.h>

using namespace coinstaller_test;

namespace registry_doc {
namespace {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";
const std::u16string noteKey = u"Software\\Orvale\\ZID-Azo";
const std::u16string port = u"USB001";
const std::u16string queueName = u"VRA Alpha Queue";
const std::u16string renamedQueue = u"Alpha 100 VRA PCL 6";

// The types under which the seeded values are stored: the first ones that the module reads, or the
// others.
struct SeedTypes {
    const char* name;
    DWORD text;
    DWORD number;
};

const SeedTypes seedTypes[] = {
    {"REG_SZ and REG_DWORD", REG_SZ, REG_DWORD},
    {"REG_EXPAND_SZ and REG_DWORD_BIG_ENDIAN", REG_EXPAND_SZ, REG_DWORD_BIG_ENDIAN},
};

struct InstallCase {
    const char* name;
    DWORD deviceType; // CurrentDeviceType: 0 the default companion, otherwise the alternate one
    bool companionPresent;
};

const InstallCase installCases[] = {
    {"default companion not installed yet", 0, false},
    {"alternate companion not installed yet", 1, false},
    {"default companion present", 0, true},
    {"alternate companion present", 1, true},
};

void SeedText(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& text,
              DWORD type) {
    winsim::SetStringValue(root, key, name, text, type);
}

void SeedNumber(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value, DWORD type) {
    winsim::SetValue(root, key, name, type, winsim::DwordBytes(value));
}

std::string StoredPort(const std::u16string& key) {
    std::u16string text;
    return winsim::GetStringValue(HKEY_LOCAL_MACHINE, key, u"PortName", &text) ? winsim::ToUtf8(text)
                                                                               : "<absent>";
}

std::vector<ObservedAccess> RunInstall(const InstallCase& install, const SeedTypes& types) {
    std::string scenario = std::string(install.name) + ", values stored as " + types.name;
    PrinterDevice printer;
    SeedText(HKEY_LOCAL_MACHINE, HardwareKey(printer.InstanceId()), u"PortName", port, types.text);
    printer.SetDescription(u"Alpha 100 Printer");
    AddQueue(queueName, u"Example PCL 6 Driver", port, u"Alpha 100");
    // Left from an earlier pre pass whose post pass never came.
    SeedNumber(HKEY_CURRENT_USER, userSettingsKey, u"InstallContext", 2, types.number);
    SeedText(HKEY_CURRENT_USER, userSettingsKey, u"InstallContextOriginalPrinterName", queueName, types.text);
    SeedNumber(HKEY_LOCAL_MACHINE, machineSettingsKey, u"CurrentDeviceType", install.deviceType,
               types.number);
    bool alternate = install.deviceType != 0;
    const std::u16string& companionKey = alternate ? alternateCompanionKey : defaultCompanionKey;
    std::u16string portKey = companionKey;
    if (install.companionPresent) {
        SeedText(HKEY_LOCAL_MACHINE, companionKey, u"BulkInstanceID", companionInstanceId, types.text);
        portKey =
            AddCompanion(companionInstanceId, alternate ? alternateCompanionClass : defaultCompanionClass);
    }

    LoadedModule module(VRACOINS_MODULE_PATH);
    EXPECT_TRUE(module.Loaded()) << "the module did not load: " << LoadedModule::LoadError();
    DWORD pre = module.InstallDevice(printer.Set(), printer.Element(), FALSE);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), pre) << scenario << ": the pre pass";
    EXPECT_EQ("USB001", StoredPort(portKey)) << scenario << ": the port name did not reach the companion";
    DWORD post = module.InstallDevice(printer.Set(), printer.Element(), TRUE);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), post) << scenario << ": the post pass";
    EXPECT_TRUE(winsim::PrinterExists(renamedQueue)) << scenario << ": the queue was not renamed";
    printer.Release();
    module.Unload();
    return LoggedAccesses(scenario);
}

// Tracking on in `mode`, with every switch set; the log location as UTF-16 text or as narrow bytes.
std::vector<ObservedAccess> RunTracking(SimulatedMachine& machine, DWORD mode, DWORD locationType) {
    std::string scenario = "tracking in mode " + std::to_string(mode) + " with a leak, log location as " +
                           TypeName(locationType);
    SeedNumber(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", mode, REG_DWORD);
    if (locationType == REG_BINARY) {
        const std::string location = "C:\\Logs";
        winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", REG_BINARY,
                         winsim::Bytes(location.begin(), location.end()));
    } else {
        SeedText(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", u"C:\\Logs", locationType);
    }
    SeedNumber(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryFailSize", 0x10000, REG_DWORD);
    SeedNumber(HKEY_LOCAL_MACHINE, switchesKey, u"AppendTRVSymbolServerPath", 1, REG_DWORD);
    SeedNumber(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryStackDepth", 16, REG_DWORD);
    SeedNumber(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryDataBytes", 64, REG_DWORD);

    TestBuildModule module;
    EXPECT_TRUE(module.Loaded() && module.HasHooks())
        << "the test build of the module did not load with its hooks: " << LoadedModule::LoadError();
    if (module.Loaded() && module.HasHooks()) {
        EXPECT_EQ(static_cast<int>(mode), module.TrackMode()) << scenario;
        void* block = module.Allocate(40);
        EXPECT_NE(nullptr, block) << scenario << ": the module could not allocate";
        if (block != nullptr) {
            module.LeakUntilUnload(block);
        }
    }
    module.Unload();
    EXPECT_TRUE(winsim::ValueExists(HKEY_CURRENT_USER, noteKey, u"LeakedModule"))
        << scenario << ": the leak report wrote no note of its log file";
    EXPECT_TRUE(std::filesystem::is_directory(machine.HostPath("C:\\Logs")))
        << scenario << ": the log location was not used";
    return LoggedAccesses(scenario);
}

void Append(std::vector<ObservedAccess>* all, const std::vector<ObservedAccess>& more) {
    all->insert(all->end(), more.begin(), more.end());
}

} // namespace

std::vector<ObservedAccess> RunInstallScenarios() {
    std::vector<ObservedAccess> all;
    SimulatedMachine machine("install");
    for (const SeedTypes& types : seedTypes) {
        for (const InstallCase& install : installCases) {
            machine.Reset();
            Append(&all, RunInstall(install, types));
        }
    }
    return all;
}

std::vector<ObservedAccess> RunTrackerScenarios() {
    std::vector<ObservedAccess> all;
    SimulatedMachine machine("tracker");
    for (DWORD mode = 1; mode <= 4; ++mode) {
        machine.Reset();
        Append(&all, RunTracking(machine, mode, mode % 2 == 1 ? REG_SZ : REG_BINARY));
    }
    return all;
}

std::vector<ObservedAccess> LoggedAccesses(const std::string& scenario) {
    std::vector<ObservedAccess> accesses;
    for (const winsim::ValueAccess& logged : winsim::ValueAccessLog()) {
        std::string fullPath = winsim::ToUtf8(logged.keyPath);
        size_t slash = fullPath.find('\\');
        ObservedAccess access;
        access.root = fullPath.substr(0, slash);
        access.keyPath = slash == std::string::npos ? "" : fullPath.substr(slash + 1);
        access.name = winsim::ToUtf8(logged.name);
        access.operation = logged.operation;
        access.type = logged.type;
        access.existed = logged.existed;
        access.scenario = scenario;
        accesses.push_back(access);
    }
    return accesses;
}

} // namespace registry_doc
