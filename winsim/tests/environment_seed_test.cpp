// The registry seed from WINSIM_SEED, applied when the simulation is loaded: a child process started with
// the variable finds the values before its first line runs.
#include "simulated_world.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// Runs this test program again with the seed and a filter that selects `test`; its exit status.
int RunSeeded(const std::string& seed, const std::string& test) {
    pid_t child = fork();
    if (child == 0) {
        setenv("WINSIM_SEED", seed.c_str(), 1);
        setenv("WINSIM_SEED_CHILD", "1", 1);
        std::string filter = "--gtest_filter=" + test;
        execl("/proc/self/exe", "seeded", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool InSeededChild() {
    return std::getenv("WINSIM_SEED_CHILD") != nullptr;
}

// Runs only in the seeded child: checks what the seed put in place before any test began.
TEST(EnvironmentSeedChild, ValuesArePresentBeforeTheProgramRuns) {
    if (!InSeededChild()) {
        GTEST_SKIP() << "runs only in the child that EnvironmentSeed starts";
    }
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Orvale\\DIZadaridi",
                                 u"TrackMemoryAllocation", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(winsim::DwordBytes(0x10), data);
    std::u16string text;
    ASSERT_TRUE(winsim::GetStringValue(HKEY_CURRENT_USER, u"Software\\Seeded", u"Where", &text));
    EXPECT_EQ(u"Z:\\tmp\\logs", text);
}

TEST(EnvironmentSeed, SeedsTheRegistryAtLoad) {
    if (InSeededChild()) {
        GTEST_SKIP() << "the parent's test";
    }
    EXPECT_EQ(0, RunSeeded("HKLM\\SOFTWARE\\Orvale\\DIZadaridi\\TrackMemoryAllocation=dword:0x10;"
                           "HKCU\\Software\\Seeded\\Where=sz:Z:\\tmp\\logs",
                           "EnvironmentSeedChild.*"));
}

TEST(EnvironmentSeed, MalformedSeedStopsTheProgram) {
    if (InSeededChild()) {
        GTEST_SKIP() << "the parent's test";
    }
    EXPECT_EQ(2, RunSeeded("HKXX\\Key\\Value=dword:1", "EnvironmentSeedChild.*"));
    EXPECT_EQ(2, RunSeeded("HKLM\\Key\\Value=dword:lots", "EnvironmentSeedChild.*"));
    EXPECT_EQ(2, RunSeeded("HKLM\\Key\\Value=qword:1", "EnvironmentSeedChild.*"));
    EXPECT_EQ(2, RunSeeded("HKLM\\Value=dword:1", "EnvironmentSeedChild.*"));
}

} // namespace
