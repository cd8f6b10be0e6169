// The module loaded into a test program with dlopen, once per tracking mode: its operators serve its own
// allocations from the memory that the mode calls for, return every block by the end of each pass, leave
// the program's allocator alone, and the co-installer still answers and works in every mode.
#include "coinstaller/tests/install_scenario.h"
#include "winsim/control/all.h"
#include "memtrack/tests/tracker_test_support.h"

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

class LoadedModule {
  public:
    LoadedModule() {
        handle_ = dlopen(VRACOINS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(nullptr, handle_) << "the module did not load: " << dlerror();
        if (handle_ != nullptr) {
            entry_ = reinterpret_cast<EntryProc>(dlsym(handle_, "VRACoInstallerEntryProc"));
            EXPECT_NE(nullptr, entry_) << "the module does not export its entry";
        }
    }
    ~LoadedModule() {
        if (handle_ != nullptr) {
            dlclose(handle_);
            EXPECT_EQ(nullptr, dlopen(VRACOINS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD))
                << "the module stayed loaded after dlclose: its collector was never destroyed";
        }
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    void* handle() const { return handle_; }
    DWORD Call(PrinterDevice& printer, BOOL postProcessing) {
        COINSTALLER_CONTEXT_DATA context = {postProcessing, NO_ERROR, nullptr};
        return entry_ != nullptr ? entry_(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &context) : 0;
    }

  private:
    void* handle_ = nullptr;
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
        LoadedModule module;
        if (module.handle() == nullptr) {
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

TEST_F(ModuleLoadingTest, TrackingOffServesTheModuleFromMalloc) {
    SetSwitch(u"TrackMemoryAllocation", 0);
    EXPECT_TRUE(InstallWithModule(true));
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc")) << "with tracking off the module used the process heap";
    EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc"));
}

TEST_F(ModuleLoadingTest, ProcessHeapModesServeTheModuleFromTheProcessHeap) {
    for (DWORD mode : {1u, 3u}) {
        winsim::Reset();
        SetSwitch(u"TrackMemoryAllocation", mode);
        EXPECT_TRUE(InstallWithModule(true)) << "mode " << mode;
        EXPECT_GT(winsim::CallCount("HeapAlloc"), 0u)
            << "mode " << mode << ": the module's blocks are not on the heap";
        EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc")) << "mode " << mode;
        EXPECT_EQ(heapBlocksBefore, winsim::HeapBlockCount())
            << "mode " << mode << ": blocks left after unload";
        EXPECT_EQ(winsim::CallCount("HeapAlloc"), winsim::CallCount("HeapFree")) << "mode " << mode;
    }
}

TEST_F(ModuleLoadingTest, PageGuardedModeServesTheModuleFromPages) {
    SetSwitch(u"TrackMemoryAllocation", 2);
    EXPECT_TRUE(InstallWithModule(true));
    EXPECT_GT(winsim::CallCount("VirtualAlloc"), 0u) << "the module's blocks are not page-guarded";
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc"));
    EXPECT_EQ(regionsBefore, winsim::VirtualRegionCount()) << "pages of the module's blocks are still held";
}

TEST_F(ModuleLoadingTest, RuntimeHeapModeWorksAndTheFailSizeReachesIt) {
    SetSwitch(u"TrackMemoryAllocation", 4);
    EXPECT_TRUE(InstallWithModule(true));
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc") + winsim::CallCount("VirtualAlloc"));

    winsim::Reset();
    SetSwitch(u"TrackMemoryAllocation", 4);
    SetSwitch(u"TrackMemoryFailSize", 1);
    EXPECT_TRUE(InstallWithModule(false)) << "with every allocation failing the module must still answer";
}

TEST_F(ModuleLoadingTest, FailSizeSixteenIsSurvivedInEveryMode) {
    for (DWORD mode : {1u, 2u, 3u, 4u}) {
        winsim::Reset();
        SetSwitch(u"TrackMemoryAllocation", mode);
        SetSwitch(u"TrackMemoryFailSize", 16);
        EXPECT_TRUE(InstallWithModule(false)) << "mode " << mode;
    }
}

TEST_F(ModuleLoadingTest, FailSizeHasNoEffectWithTrackingOff) {
    SetSwitch(u"TrackMemoryAllocation", 0);
    SetSwitch(u"TrackMemoryFailSize", 1);
    EXPECT_TRUE(InstallWithModule(true)) << "the fail size took effect with tracking off";
}

TEST_F(ModuleLoadingTest, ProgramAllocatorIsUntouchedWhileTheModuleTracks) {
    SetSwitch(u"TrackMemoryAllocation", 2);
    void* programNewBefore = dlsym(RTLD_DEFAULT, "_Znwm");
    LoadedModule module;
    ASSERT_NE(nullptr, module.handle());
    EXPECT_EQ(programNewBefore, dlsym(RTLD_DEFAULT, "_Znwm")) << "loading the module replaced operator new";
    unsigned pageCalls = winsim::CallCount("VirtualAlloc");
    {
        auto text = std::make_unique<std::string>(500, 't');
        std::unique_ptr<char[]> buffer(new char[4096]);
    }
    EXPECT_EQ(pageCalls, winsim::CallCount("VirtualAlloc"))
        << "the program's new-expressions reached the module";
    Dl_info info = {};
    for (const char* name : {"_Znwm", "_Znam", "_ZdlPv", "_ZdaPv", "_ZdlPvm", "_ZdaPvm"}) {
        void* found = dlsym(module.handle(), name);
        void* entry = dlsym(module.handle(), "VRACoInstallerEntryProc");
        ASSERT_NE(0, dladdr(entry, &info));
        const void* moduleBase = info.dli_fbase;
        if (found != nullptr && dladdr(found, &info) != 0) {
            EXPECT_NE(moduleBase, info.dli_fbase) << name << " is exported by the module";
        }
    }
}

} // namespace
