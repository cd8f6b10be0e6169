// A whole installation by the module with tracking off, from its load to its unload, for a leak checker
// (scripts/leak-check.sh runs it under valgrind): whatever the module allocated and did not release is
// unreachable once dlclose has unmapped it, and is reported as lost. The program itself checks that the
// installation really ran, so that a clean verdict is not that of a module that did nothing.
//
// Usage: unload_leak_check installation-without-switches | installation-switched-off | leaking-build
//   installation-without-switches  the shipped module, the tracker's key missing, loaded and unloaded
//                                  twice, each time installing a USB printer (pre and post pass)
//   installation-switched-off      the same with "TrackMemoryAllocation" 0
//   leaking-build                  the module's test build leaking one block on purpose, which the leak
//                                  checker must report: the proof that it would see a leak of the module
#include "coinstaller/tests/install_scenario.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace coinstaller_test;

namespace {

typedef DWORD(WINAPI* EntryProc)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
typedef void* (*LeakHook)(size_t);

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";
const std::u16string queueName = u"VRA Alpha Queue";
const std::u16string composedName = u"Alpha 100 VRA PCL 6";

bool Check(bool condition, const char* expectation) {
    if (!condition) {
        std::fprintf(stderr, "unload_leak_check: expected %s\n", expectation);
    }
    return condition;
}

// A USB printer with a companion whose interface takes the port, and a queue waiting to be named.
void SeedInstallation(PrinterDevice& printer, std::u16string* interfaceKey) {
    printer.SetPort(u"USB001");
    printer.SetDescription(u"Alpha 100 Printer");
    *interfaceKey = AddCompanion(companionInstanceId, defaultCompanionClass);
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"BulkInstanceID", companionInstanceId);
    AddQueue(queueName, u"Example PCL 6 Driver", u"USB001", u"Alpha 100");
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, u"InstallContextOriginalPrinterName",
                           queueName);
}

// Loads the module, installs, unloads; true when both passes did their work and the module went away.
bool InstallOnce(int trackingSwitch) {
    winsim::Reset();
    if (trackingSwitch >= 0) {
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation",
                              static_cast<DWORD>(trackingSwitch));
    }
    bool ok = true;
    {
        PrinterDevice printer;
        std::u16string interfaceKey;
        SeedInstallation(printer, &interfaceKey);

        void* module = dlopen(VRACOINS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!Check(module != nullptr, "the module to load")) {
            std::fprintf(stderr, "%s\n", dlerror());
            return false;
        }
        auto entry = reinterpret_cast<EntryProc>(dlsym(module, "VRACoInstallerEntryProc"));
        ok = Check(entry != nullptr, "the module to export VRACoInstallerEntryProc");
        if (ok) {
            COINSTALLER_CONTEXT_DATA pre = {FALSE, NO_ERROR, nullptr};
            COINSTALLER_CONTEXT_DATA post = {TRUE, NO_ERROR, nullptr};
            ok = Check(entry(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &pre) ==
                           static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED),
                       "the pre pass to ask for the post pass") &&
                 ok;
            std::u16string port;
            ok = Check(winsim::GetStringValue(HKEY_LOCAL_MACHINE, interfaceKey, u"PortName", &port) &&
                           port == u"USB001",
                       "the pre pass to bind the port at the companion's interface") &&
                 ok;
            ok = Check(entry(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &post) ==
                           static_cast<DWORD>(NO_ERROR),
                       "the post pass to answer NO_ERROR") &&
                 ok;
            ok = Check(winsim::PrinterExists(composedName) && !winsim::PrinterExists(queueName),
                       "the post pass to rename the queue") &&
                 ok;
        }
        printer.Release();
        dlclose(module);
        ok = Check(dlopen(VRACOINS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD) == nullptr,
                   "the module to be unloaded by dlclose") &&
             ok;
    }
    ok = Check(winsim::DebugOutput().empty(), "no report from the tracker with tracking off") && ok;
    winsim::Reset();
    return ok;
}

// The test build's leak hook: one block allocated through the module's operator new and never released.
bool LeakOnPurpose() {
    winsim::Reset();
    void* module = dlopen(VRACOINS_TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!Check(module != nullptr, "the module's test build to load")) {
        return false;
    }
    auto leak = reinterpret_cast<LeakHook>(dlsym(module, "vracoinsTestHook_leak"));
    bool ok = Check(leak != nullptr && leak(48) != nullptr, "the test build to leak a block");
    dlclose(module);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    std::string scenario = argc > 1 ? argv[1] : "";
    bool ok = false;
    if (scenario == "installation-without-switches") {
        ok = InstallOnce(-1) && InstallOnce(-1);
    } else if (scenario == "installation-switched-off") {
        ok = InstallOnce(0) && InstallOnce(0);
    } else if (scenario == "leaking-build") {
        ok = LeakOnPurpose();
    } else {
        std::fprintf(stderr,
                     "usage: unload_leak_check installation-without-switches | installation-switched-off | "
                     "leaking-build\n");
        return 2;
    }
    return ok ? 0 : 1;
}
