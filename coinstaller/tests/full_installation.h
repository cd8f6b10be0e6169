// The installation that runs every step of both passes: a USB printer whose companion is known and present
// behind another companion's interface, a selector to consume, and a queue whose new name is taken already,
// so that context, binding through the interface search, composition, the copy number and the rename all
// run. The tests that make the passes' memory or platform calls fail run it whole.
#pragma once

#include "coinstaller/coinstaller_entry.h"
#include "install_scenario.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace coinstaller_test {

const std::u16string fullQueue = u"VRA Alpha Queue";
const std::u16string fullComposed = u"Alpha 100 VRA PCL 6";
const std::u16string fullRenamed = fullComposed + u" (Copy 1)";
const std::u16string originalNameValue = u"InstallContextOriginalPrinterName";

inline std::u16string Lowered(std::u16string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; });
    return text;
}

struct PassAnswers {
    DWORD pre;
    DWORD post;
};

class FullInstallation {
  public:
    FullInstallation() {
        printer_.SetPort(u"USB001");
        printer_.SetDescription(u"Alpha 100 Printer");
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, u"CurrentDeviceType", 0);
        AddCompanion(u"USB\\VID_1A2B&PID_0C01\\5&3C4D&0&1", defaultCompanionClass);
        interfaceKey_ = AddCompanion(companionInstanceId, defaultCompanionClass);
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"BulkInstanceID",
                               companionInstanceId);
        AddQueue(fullQueue, u"Example PCL 6 Driver", u"USB001", u"Alpha 100");
        winsim::AddPrinter(fullComposed, u"Other Driver", u"LPT1:");
        winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, originalNameValue, fullQueue);
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

} // namespace coinstaller_test
