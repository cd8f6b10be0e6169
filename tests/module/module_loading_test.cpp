// The module loaded into a test program with dlopen, once per tracking mode: its operators serve its own
// allocations from the memory that the mode calls for, return every block by the end of each pass, leave
// the program's allocator alone, and the co-installer still answers and works in every mode.
#include "coinstaller/tests/install_scenario.h"
#include "winsim/control/all.h"
#include "memtrack/tests/tracker_test_support.h"
#include "tests/module/module_lifecycle_support.h"

#include <dlfcn.h>

#include <cstddef>
#include <memory>
#include <string>

using namespace coinstaller_test;
using namespace tracker_test;

namespace {

typedef DWORD(WINAPI* EntryProc)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

const std::u16string queueName = u"VRA Alpha Queue";
const std::u16string composedName = u"Alpha 100 VRA PCL 6";

// The shipped module, with its entry.
class ShippedModule : public lifecycle_test::LoadedModule {
  public:
    ShippedModule() : LoadedModule(VRACOINS_MODULE_PATH) {
        entry_ = Loaded() ? Find<EntryProc>("VRACoInstallerEntryProc") : nullptr;
    }
    DWORD Call(PrinterDevice& printer, BOOL postProcessing) {
        COINSTALLER_CONTEXT_DATA context = {postProcessing, NO_ERROR, nullptr};
        return entry_ != nullptr ? entry_(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &context) : 0;
    }

  private:
    EntryProc entry_ = nullptr;
};

class ModuleLoadingTest : public TrackerTest {
  protected:
    void SeedInstallation(PrinterDevice& printer) {
        printer.SetPort(u"USB001");
        printer.SetDescription(u"Alpha 100 Printer");
        AddQueue(queueName, u"Example PCL 6 Driver", u"USB001", u"Alpha 100");
        winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, u"InstallContextOriginalPrinterName",
                               queueName);
    }

    // Loads the module with the switches as they are, runs both passes, unloads it; true when both passes
    // answered as they must.
    bool InstallWithModule(bool expectRename) {
        PrinterDevice printer;
        SeedInstallation(printer);
        heapBlocksBefore = winsim::HeapBlockCount();
        regionsBefore = winsim::VirtualRegionCount();
        ShippedModule module;
        if (!module.Loaded()) {
            return false;
        }
        DWORD pre = module.Call(printer, FALSE);
        DWORD post = module.Call(printer, TRUE);
        EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), pre);
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), post);
        EXPECT_EQ(expectRename, winsim::PrinterExists(composedName)) << "rename of the queue";
        printer.Release();
        return pre == static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED) &&
               post == static_cast<DWORD>(NO_ERROR);
    }

    size_t heapBlocksBefore = 0;
    size_t regionsBefore = 0;
};

// Where each mode serves the module's blocks from (tracking off: malloc, whatever the fail size; modes 1
// and 3: the process heap; mode 2: pages; mode 4: the runtime's heap), every one given back by the unload.
TEST_F(ModuleLoadingTest, EachModeServesTheModuleFromItsOwnMemory) {
    const struct {
        DWORD mode;
        DWORD failSize;
        bool heap;
        bool pages;
    } rows[] = {{0, 0, false, false}, {0, 1, false, false}, {1, 0, true, false},
                {3, 0, true, false},  {2, 0, false, true},  {4, 0, false, false}};
    for (const auto& row : rows) {
        winsim::Reset();
        SetSwitch(u"TrackMemoryAllocation", row.mode);
        if (row.failSize != 0) {
            SetSwitch(u"TrackMemoryFailSize", row.failSize);
        }
        const std::string what =
            "mode " + std::to_string(row.mode) + ", fail size " + std::to_string(row.failSize);
        EXPECT_TRUE(InstallWithModule(true)) << what;
        EXPECT_EQ(row.heap, winsim::CallCount("HeapAlloc") > 0) << what << ": blocks on the process heap";
        EXPECT_EQ(row.pages, winsim::CallCount("VirtualAlloc") > 0) << what << ": page-guarded blocks";
        EXPECT_EQ(heapBlocksBefore, winsim::HeapBlockCount()) << what << ": blocks left after unload";
        EXPECT_EQ(winsim::CallCount("HeapAlloc"), winsim::CallCount("HeapFree")) << what;
        EXPECT_EQ(regionsBefore, winsim::VirtualRegionCount()) << what << ": pages of blocks still held";
    }
}

// With allocations failing (all of them in mode 4, those of 16 bytes and more in every mode) the module
// still answers both passes, without renaming the queue.
TEST_F(ModuleLoadingTest, FailingAllocationsAreSurvivedInEveryMode) {
    const struct {
        DWORD mode;
        DWORD failSize;
    } rows[] = {{4, 1}, {1, 16}, {2, 16}, {3, 16}, {4, 16}};
    for (const auto& row : rows) {
        winsim::Reset();
        SetSwitch(u"TrackMemoryAllocation", row.mode);
        SetSwitch(u"TrackMemoryFailSize", row.failSize);
        EXPECT_TRUE(InstallWithModule(false)) << "mode " << row.mode << ", fail size " << row.failSize;
    }
}

// (That the module exports none of the operators, LinkedModuleTest.ModuleExportsNoAllocationOperator checks.)
TEST_F(ModuleLoadingTest, ProgramAllocatorIsUntouchedWhileTheModuleTracks) {
    SetSwitch(u"TrackMemoryAllocation", 2);
    void* programNewBefore = dlsym(RTLD_DEFAULT, "_Znwm");
    ShippedModule module;
    ASSERT_TRUE(module.Loaded());
    EXPECT_EQ(programNewBefore, dlsym(RTLD_DEFAULT, "_Znwm")) << "loading the module replaced operator new";
    unsigned pageCalls = winsim::CallCount("VirtualAlloc");
    {
        auto text = std::make_unique<std::string>(500, 't');
        std::unique_ptr<char[]> buffer(new char[4096]);
    }
    EXPECT_EQ(pageCalls, winsim::CallCount("VirtualAlloc"))
        << "the program's new-expressions reached the module";
}

} // namespace
