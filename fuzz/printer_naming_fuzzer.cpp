// The print queue's naming, driven through the co-installer's post pass: the device description, the
// stored InstallContext and queue name (any type, any length), the queue's name, driver and port, its
// printer data (any value name, type and length) and the names of the other local printers.
//
// Whenever the queue is renamed, its new name must be the one composed from its printer data and driver
// and made unique against the printers that existed; without an armed failure, whether it is renamed at
// all is predicted too.
//
// Input: description (present flag, type, blob), InstallContext (likewise), stored queue name (byte: 0 the
// queue's name as REG_SZ, 1 the next type and blob, 2 absent), queue name, driver name and port name
// (blobs), printer-data value name (byte: 0 the port, 1 empty, 2 the next blob), its type and data, the
// count of other printers (byte) and their names (blobs), and an armed failure (3 bytes).
#include "coinstaller/coinstaller_entry.h"
#include "simulated_world.h"

#include <algorithm>
#include <vector>

using fuzz::Expect;

namespace {

const std::u16string printerId = u"USBPRINT\\VRAALPHA_100\\7&2F3A1B&0&USB001";
const std::u16string settingsKey = u"Software\\Orvale\\OV Print Settings";
const std::u16string storedNameValue = u"InstallContextOriginalPrinterName";
// The printer data is read into 520 bytes.
const size_t printerDataBytes = 520;

// The printer-data text that names a queue, or "" when the data cannot serve.
std::u16string PrinterDataText(const winsim::Bytes& data) {
    if (data.empty() || data.size() > printerDataBytes) {
        return u"";
    }
    winsim::Bytes buffer(data);
    buffer.resize(printerDataBytes, 0);
    std::u16string text = Utf16Text(buffer);
    return text.empty() || text[0] == u' ' ? u"" : text;
}

// The last of the tags, in this order, that the driver name contains.
std::u16string PdlTag(const std::u16string& driver) {
    std::u16string tag;
    for (const char16_t* candidate : {u"PS", u"PCL 5", u"PCL 6", u"PCL 3", u"XPS"}) {
        if (driver.find(candidate) != std::u16string::npos) {
            tag = candidate;
        }
    }
    return tag;
}

// The first of base, "base (Copy 1)", ... that no printer bears exactly.
std::u16string FirstFreeName(const std::u16string& base, const std::vector<std::u16string>& printers) {
    std::u16string candidate = base;
    for (unsigned copy = 1; std::find(printers.begin(), printers.end(), candidate) != printers.end();
         ++copy) {
        candidate = base + u" (Copy " + winsim::FromUtf8(std::to_string(copy)) + u")";
    }
    return candidate;
}

bool SpoolerTakes(const std::u16string& name, const std::u16string& queue,
                  const std::vector<std::u16string>& printers) {
    if (name.empty() || name.find_first_of(u"\\,") != std::u16string::npos) {
        return false;
    }
    for (const std::u16string& printer : printers) {
        if (printer != queue && fuzz::SameName(printer, name)) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    fuzz::StartInput();

    winsim::AddDevice(printerId);
    fuzz::SeededValue description = fuzz::ReadSeededValue(input, input.Flag());
    if (description.present) {
        winsim::SetDeviceProperty(printerId, SPDRP_DEVICEDESC, description.type, description.data);
    }
    fuzz::SeededValue context = fuzz::ReadSeededValue(input, input.Flag());
    if (context.present) {
        winsim::SetValue(HKEY_CURRENT_USER, settingsKey, u"InstallContext", context.type, context.data);
    }
    int storedNameKind = input.Byte() % 3;
    fuzz::SeededValue storedName = fuzz::ReadSeededValue(input, storedNameKind == 1);

    std::u16string queue = input.Name();
    std::u16string driver = input.Name();
    std::u16string port = input.Name();
    winsim::AddPrinter(queue, driver, port);
    if (storedNameKind == 0) {
        storedName = fuzz::SeededValue{true, REG_SZ, winsim::StringBytes(queue)};
    }
    if (storedName.present) {
        winsim::SetValue(HKEY_CURRENT_USER, settingsKey, storedNameValue, storedName.type, storedName.data);
    }

    int valueNameKind = input.Byte() % 3;
    std::u16string valueName = valueNameKind == 0 ? port : valueNameKind == 1 ? u"" : input.Name();
    fuzz::SeededValue printerData = fuzz::ReadSeededValue(input, true);
    winsim::SetPrinterData(queue, valueName, printerData.type, printerData.data);

    // Other printers, none of them with the queue's name in other letters (the spooler would take it for
    // the queue) and none with a driver that names a tag.
    std::vector<std::u16string> others;
    unsigned otherCount = input.Byte() % 5;
    for (unsigned i = 0; i < otherCount; ++i) {
        std::u16string name = input.Name();
        bool clash = name.empty() || fuzz::SameName(name, queue);
        for (const std::u16string& other : others) {
            clash = clash || fuzz::SameName(name, other);
        }
        if (!clash) {
            winsim::AddPrinter(name, u"Other Driver", u"LPT1:");
            others.push_back(name);
        }
    }
    std::vector<std::u16string> before = winsim::PrinterNames();

    SP_DEVINFO_DATA element = SP_DEVINFO_DATA();
    HDEVINFO set = winsim::CreateDeviceSet(printerId, &element);
    bool failureArmed = fuzz::ArmFailure(input, {"RegOpenKeyExW", "RegQueryValueExW", "RegDeleteValueW",
                                                 "SetupDiGetDeviceRegistryPropertyW", "OpenPrinterW",
                                                 "GetPrinterDriverW", "GetPrinterW", "GetPrinterDataW",
                                                 "EnumPrintersW", "SetPrinterW", "GlobalAlloc"});

    COINSTALLER_CONTEXT_DATA passContext = {TRUE, NO_ERROR, nullptr};
    DWORD answer = VRACoInstallerEntryProc(DIF_INSTALLDEVICE, set, &element, &passContext);
    winsim::ClearFailures();
    Expect(answer == static_cast<DWORD>(NO_ERROR), "the post pass answered " + std::to_string(answer));
    SetupDiDestroyDeviceInfoList(set);
    fuzz::ExpectNothingLeftOpen("the post pass");

    std::vector<std::u16string> after = winsim::PrinterNames();
    Expect(after.size() == before.size(), "the post pass added or removed a printer");
    size_t changed = 0;
    std::u16string newName;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) {
            ++changed;
            Expect(before[i] == queue, "a printer other than the queue was renamed");
            newName = after[i];
        }
    }
    Expect(changed <= 1, "more than one printer was renamed");

    std::u16string text = PrinterDataText(printerData.data);
    std::u16string tag = PdlTag(driver);
    std::u16string expectedName;
    if (!text.empty() && !tag.empty()) {
        expectedName = FirstFreeName(text + u" VRA " + tag, before);
    }
    if (changed != 0) {
        Expect(!expectedName.empty(), "the queue was renamed without printer-data text or tag");
        Expect(newName == expectedName, "the queue's new name is not the composed, unique name");
    }
    if (failureArmed) {
        return 0;
    }

    bool descriptionRead = description.present && !description.data.empty();
    // The stored name opens the queue when it names it in any letter case.
    std::u16string storedText;
    if (storedName.present && fuzz::IsStringType(storedName.type) && !storedName.data.empty()) {
        storedText = Utf16Text(storedName.data);
    }
    bool opensQueue = !storedText.empty() && fuzz::SameName(storedText, queue);
    bool renameExpected = descriptionRead && opensQueue && fuzz::SameName(valueName, port) &&
                          !expectedName.empty() && SpoolerTakes(expectedName, queue, before);
    Expect((changed != 0) == renameExpected,
           renameExpected ? "the queue was not renamed" : "the queue was renamed");
    Expect(!winsim::ValueExists(HKEY_CURRENT_USER, settingsKey, u"InstallContext"),
           "InstallContext outlived the post pass");
    Expect(winsim::ValueExists(HKEY_CURRENT_USER, settingsKey, storedNameValue) ==
               (storedName.present && !descriptionRead),
           "the stored queue name was not forgotten exactly when the description could be read");
    return 0;
}
