// A program linked against the module at build time keeps its own allocator: the module's operators are
// local to the module, serve the module's own allocations, and are not what the program's new-expressions
// call. The module allocates its constant strings while it is loaded, before main, so the tracking switch
// (page-guarded tracking: every block of the module costs a VirtualAlloc, which makes the module's
// allocations visible from outside) comes from WINSIM_SEED, which the test's CTest entry sets.
#include "coinstaller/coinstaller_entry.h"
#include "coinstaller/tests/install_scenario.h"
#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

using namespace coinstaller_test;

namespace {

const void* moduleBase() {
    Dl_info info = {};
    EXPECT_NE(0, dladdr(reinterpret_cast<void*>(&VRACoInstallerEntryProc), &info));
    return info.dli_fbase;
}

const void* baseOf(void* address) {
    Dl_info info = {};
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

class LinkedModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetKernelServices();
        const char* seed = std::getenv("WINSIM_SEED");
        ASSERT_TRUE(seed != nullptr && std::strstr(seed, "TrackMemoryAllocation=dword:2") != nullptr)
            << "run this program with WINSIM_SEED setting TrackMemoryAllocation to 2 (see its CTest entry)";
    }

    DWORD PrePass(PrinterDevice& printer) {
        COINSTALLER_CONTEXT_DATA context = {FALSE, NO_ERROR, nullptr};
        return VRACoInstallerEntryProc(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &context);
    }
};

TEST_F(LinkedModuleTest, ProgramOperatorNewIsNotTheModules) {
    void* (*programNew)(std::size_t) = &::operator new;
    const void* programNewModule = baseOf(reinterpret_cast<void*>(programNew));
    ASSERT_NE(programNewModule, nullptr) << "operator new of the program lies in no loaded object";
    EXPECT_NE(programNewModule, moduleBase())
        << "the program's new-expressions call the module's operator new";
}

TEST_F(LinkedModuleTest, ModuleExportsNoAllocationOperator) {
    void* module = dlopen(VRACOINS_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr) << "the linked module is not loaded: " << dlerror();
    for (const char* name : {"_Znwm", "_Znam", "_ZdlPv", "_ZdaPv", "_ZdlPvm", "_ZdaPvm",
                             "_ZnwmRKSt9nothrow_t", "_ZnamRKSt9nothrow_t"}) {
        void* found = dlsym(module, name);
        if (found != nullptr) {
            EXPECT_NE(baseOf(found), moduleBase()) << name << " is exported by the module";
        }
    }
    dlclose(module);
}

TEST_F(LinkedModuleTest, ModuleAllocatesThroughItsHooksAndTheProgramDoesNot) {
    size_t regionsBefore = winsim::VirtualRegionCount();
    {
        auto programText = std::make_unique<std::string>(300, 'p');
        std::unique_ptr<int[]> programArray(new int[64]);
        EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc"))
            << "a new-expression of the program reached the module";
    }

    PrinterDevice printer;
    printer.SetPort(u"USB001");
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), PrePass(printer));
    printer.Release();
    EXPECT_GT(winsim::CallCount("VirtualAlloc"), 0u)
        << "the module's allocations did not become page-guarded blocks";
    EXPECT_EQ(winsim::CallCount("VirtualAlloc"), winsim::CallCount("VirtualFree"))
        << "the module did not release every block it allocated during the pass";
    EXPECT_EQ(regionsBefore, winsim::VirtualRegionCount()) << "pages of the module's blocks are still held";
}

} // namespace
