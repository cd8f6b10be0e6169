// Running out of memory at any point of an installation: whichever allocation of the co-installer fails
// first, both passes still answer their codes, every handle and block is given back, and nothing is
// written under an incomplete name or into an incomplete path.
#include "coinstaller/coinstaller_entry.h"
#include "coinstaller_test_support.h"
#include "failing_allocator.h"
#include "install_scenario.h"

#include <algorithm>
#include <set>

using namespace coinstaller_test;

namespace {

const std::u16string queue = u"VRA Alpha Queue";
const std::u16string composed = u"Alpha 100 VRA PCL 6";
const std::u16string renamed = composed + u" (Copy 1)";
const std::u16string contextValue = u"InstallContext";
const std::u16string nameValue = u"InstallContextOriginalPrinterName";

std::u16string Lowered(std::u16string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
    return text;
}

struct PassAnswers {
    DWORD pre;
    DWORD post;
};

// A USB printer whose companion is known and present, and whose queue's new name is taken already, so
// that every step of both passes runs: context, binding through the interface search, composition, the
// copy number and the rename.
class FullInstallation {
  public:
    FullInstallation() {
        printer_.SetPort(u"USB001");
        printer_.SetDescription(u"Alpha 100 Printer");
        AddCompanion(u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&1", defaultCompanionClass);
        interfaceKey_ = AddCompanion(companionInstanceId, defaultCompanionClass);
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"BulkInstanceID",
                               companionInstanceId);
        AddQueue(queue, u"Example PCL 6 Driver", u"USB001", u"Alpha 100");
        winsim::AddPrinter(composed, u"Other Driver", u"LPT1:");
        winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, queue);
        printer_.Set();
        seededKeyLogLength_ = winsim::OpenedKeyLog().size();
    }

    PassAnswers Run() {
        COINSTALLER_CONTEXT_DATA pre = {FALSE, NO_ERROR, nullptr};
        COINSTALLER_CONTEXT_DATA post = {TRUE, NO_ERROR, nullptr};
        PassAnswers answers;
        answers.pre = VRACoInstallerEntryProc(DIF_INSTALLDEVICE, printer_.Set(), printer_.Element(), &pre);
        answers.post = VRACoInstallerEntryProc(DIF_INSTALLDEVICE, printer_.Set(), printer_.Element(), &post);
        return answers;
    }

    void Release() { printer_.Release(); }

    // Every key the passes opened is one of the installation's own, never a part of one.
    std::vector<std::u16string> ForeignKeysOpened() const {
        std::set<std::u16string> expected = {
            Lowered(u"HKCU\\" + userSettingsKey), Lowered(u"HKLM\\" + HardwareKey(printerInstanceId)),
            Lowered(u"HKLM\\" + machineSettingsKey), Lowered(u"HKLM\\" + defaultCompanionKey),
            Lowered(u"HKLM\\" + interfaceKey_)};
        std::vector<std::u16string> foreign;
        auto log = winsim::OpenedKeyLog();
        for (size_t i = seededKeyLogLength_; i < log.size(); ++i) {
            if (expected.count(Lowered(log[i])) == 0) {
                foreign.push_back(log[i]);
            }
        }
        return foreign;
    }

    const std::u16string& InterfaceKey() const { return interfaceKey_; }

  private:
    PrinterDevice printer_;
    std::u16string interfaceKey_;
    size_t seededKeyLogLength_ = 0;
};

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
    EXPECT_TRUE(winsim::PrinterExists(renamed));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, nameValue));
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

        // The port name goes whole into the interface key or nowhere: the companion is known, so its
        // own key never receives it.
        std::string interfacePort = StoredText(HKEY_LOCAL_MACHINE, installation.InterfaceKey(), u"PortName");
        EXPECT_TRUE(interfacePort == "USB001" || interfacePort == "<absent>") << interfacePort << " " << at;
        EXPECT_EQ("<absent>", StoredText(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"PortName")) << at;

        // The queue keeps its name or takes the whole new one; no other printer appears or goes.
        auto names = winsim::PrinterNames();
        std::set<std::u16string> present(names.begin(), names.end());
        std::string list;
        for (const auto& name : names) {
            list += "[" + Utf8(name) + "] ";
        }
        EXPECT_EQ(2u, present.size()) << list << at;
        EXPECT_EQ(1u, present.count(composed)) << list << at;
        EXPECT_EQ(1u, present.count(queue) + present.count(renamed)) << list << at;

        std::string storedName = StoredText(HKEY_CURRENT_USER, userSettingsKey, nameValue);
        EXPECT_TRUE(storedName == Utf8(queue) || storedName == "<absent>") << storedName << " " << at;
        if (allowed == total) {
            EXPECT_EQ(0u, failed) << at;
            EXPECT_EQ(1u, present.count(renamed)) << "the queue was not renamed with memory to spare";
        } else {
            EXPECT_GT(failed, 0u) << "no allocation failed " << at;
        }
    }
}

TEST_F(AllocationFailureTest, RunningOutOfMemoryAtAnyPointLeavesTheAnswersAndNoDebris) {
    SweepFailurePoints(false);
}

TEST_F(AllocationFailureTest, ASingleFailedAllocationAtAnyPointLeavesTheAnswersAndNoDebris) {
    SweepFailurePoints(true);
}

} // namespace
