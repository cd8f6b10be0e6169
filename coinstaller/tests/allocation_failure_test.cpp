// Running out of memory at any point of an installation: whichever allocation of the co-installer fails
// first, both passes still answer their codes, every handle and block is given back, and nothing is
// written under an incomplete name or into an incomplete path.
#include "coinstaller_test_support.h"
#include "failing_allocator.h"
#include "full_installation.h"

#include <set>

using namespace coinstaller_test;

namespace {

const std::u16string contextValue = u"InstallContext";

class AllocationFailureTest : public SimulatedWindowsTest {};

TEST_F(AllocationFailureTest, TheFullInstallationSucceedsWhenMemoryLasts) {
    FullInstallation installation;
    failing_allocator::Start();
    PassAnswers answers = installation.Run();
    size_t allocations = failing_allocator::Stop();
    installation.Release();

    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), answers.pre);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), answers.post);
    EXPECT_GT(allocations, 10u) << "the passes should allocate their strings and buffers";
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, installation.InterfaceKey(), u"PortName"));
    EXPECT_TRUE(winsim::PrinterExists(fullRenamed));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, originalNameValue));
}

// Runs the whole installation once for every allocation it makes, failing from that allocation on (or
// that allocation alone), and checks what each run answers and leaves behind.
void SweepFailurePoints(bool failOnlyOne) {
    size_t total = 0;
    {
        FullInstallation installation;
        failing_allocator::Start();
        installation.Run();
        total = failing_allocator::Stop();
        installation.Release();
    }
    ASSERT_GT(total, 0u);
    size_t companionKeyRuns = 0;

    for (size_t allowed = 0; allowed <= total; ++allowed) {
        winsim::Reset();
        FullInstallation installation;
        if (failOnlyOne) {
            failing_allocator::StartFailingOnlyAfter(allowed);
        } else {
            failing_allocator::StartFailingAfter(allowed);
        }
        PassAnswers answers = installation.Run();
        failing_allocator::Stop();
        size_t failed = failing_allocator::FailedCount();
        installation.Release();
        const std::string at = "with allocation " + std::to_string(allowed + 1) + " of " +
                               std::to_string(total) + (failOnlyOne ? " failing" : " and later failing");

        EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), answers.pre) << at;
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), answers.post) << at;
        ExpectNothingLeftOpen(at);
        for (const auto& key : installation.ForeignKeysOpened()) {
            ADD_FAILURE() << "key " << Utf8(key) << " opened " << at;
        }

        // The port name goes whole into one place or nowhere: the interface key, or the companion key when
        // the stored instance could not be read, which leaves the companion unknown.
        std::string interfacePort = StoredText(HKEY_LOCAL_MACHINE, installation.InterfaceKey(), u"PortName");
        std::string companionPort = StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"PortName");
        EXPECT_TRUE(interfacePort == "USB001" || interfacePort == "<absent>") << interfacePort << " " << at;
        EXPECT_TRUE(companionPort == "<absent>" || (companionPort == "USB001" && interfacePort == "<absent>"))
            << companionPort << " " << at;
        companionKeyRuns += companionPort == "USB001" ? 1 : 0;

        // The queue keeps its name or takes the whole new one; no other printer appears or goes.
        auto names = winsim::PrinterNames();
        std::set<std::u16string> present(names.begin(), names.end());
        std::string list;
        for (const auto& name : names) {
            list += "[" + Utf8(name) + "] ";
        }
        EXPECT_EQ(2u, present.size()) << list << at;
        EXPECT_EQ(1u, present.count(fullComposed)) << list << at;
        EXPECT_EQ(1u, present.count(fullQueue) + present.count(fullRenamed)) << list << at;

        std::string storedName = StoredText(HKEY_CURRENT_USER, userSettingsKey, originalNameValue);
        EXPECT_TRUE(storedName == Utf8(fullQueue) || storedName == "<absent>") << storedName << " " << at;
        if (allowed == total) {
            EXPECT_EQ(0u, failed) << at;
            EXPECT_EQ(1u, present.count(fullRenamed)) << "the queue was not renamed with memory to spare";
        } else {
            EXPECT_GT(failed, 0u) << "no allocation failed " << at;
        }
    }
    EXPECT_GT(companionKeyRuns, 0u) << "no read of the stored instance failed for want of memory, or none "
                                       "that did sent the port name into the companion key";
}

TEST_F(AllocationFailureTest, RunningOutOfMemoryAtAnyPointLeavesTheAnswersAndNoDebris) {
    SweepFailurePoints(false);
}

TEST_F(AllocationFailureTest, ASingleFailedAllocationAtAnyPointLeavesTheAnswersAndNoDebris) {
    SweepFailurePoints(true);
}

} // namespace
