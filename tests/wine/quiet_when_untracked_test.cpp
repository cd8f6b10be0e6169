// With the allocation tracker switched off (no "TrackMemoryAllocation" under the tracker's key) the module
// says nothing: loading it, a whole installation and unloading it write nothing on the debugger output
// and raise no breakpoint trap. Caught in-process, as a debugger would see them.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/wine_check.h"

using namespace winetest;

namespace {

const wchar_t kTrackerKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";

void test_untracked_module_is_silent(int argc, char** argv) {
    CHECK_AREA("an untracked module writes no debugger output from load to unload");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    ForgetCoInstallerState();
    TestDevice printer(L"VraQuietPrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return;
    }
    printer.SetHardwareText(kPortNameValue, L"USB001");
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, L"No Such Queue");

    DebugOutputCapture capture;
    if (!CHECK(capture.IsActive(), "cannot install the vectored exception handler, error %lu",
               GetLastError())) {
        return;
    }
    {
        CoInstallerModule coinstaller(argc, argv);
        if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
            return;
        }
        const DWORD pre = coinstaller.PrePass(printer.Set(), printer.Element());
        const DWORD post = coinstaller.PostPass(printer.Set(), printer.Element());
        CHECK(pre == kPostProcessingRequired && post == NO_ERROR,
              "expected 0xe0000226 then 0, got %#lx then %#lx", pre, post);
    } // FreeLibrary: the module's exit list runs here.

    CHECK(capture.Pieces().empty(), "expected no debugger output, got %u pieces beginning \"%.200s\"",
          static_cast<unsigned>(capture.Pieces().size()), capture.Text().c_str());
    CHECK(capture.Breakpoints() == 0, "expected no breakpoint trap, got %u", capture.Breakpoints());
    CHECK(GetModuleHandleA("vracoins.dll") == nullptr, "expected the module unloaded after FreeLibrary");
}

} // namespace

int main(int argc, char** argv) {
    test_untracked_module_is_silent(argc, argv);
    ForgetCoInstallerState();
    return winecheck::finish("quiet_when_untracked_test");
}
