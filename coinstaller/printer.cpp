#include "coinstaller/printer.h"

#include "coinstaller/printer_naming.h"
#include "coinstaller/two_call_read.h"
#include "platform/portability.h"

namespace {

const WCHAR familyTagText[] = W("VRA");
const WCHAR separator[] = W(" ");

// The printer-data value is read into a fixed buffer: 520 bytes, 260 characters.
const DWORD printerDataBytes = 520;
const size_t printerDataCharacters = printerDataBytes / sizeof(WCHAR);

// Page-description-language tags, sought in the driver name in this order; a later match wins, so
// "XPS" beats the "PS" inside it and "PCL 6" beats "PCL 5".
const WCHAR* const pdlTags[] = {W("PS"), W("PCL 5"), W("PCL 6"), W("PCL 3"), W("XPS")};

} // namespace

CPrinter::CPrinter(CSpooler& printerSpooler, const WideString& name) : spooler(printerSpooler) {
    Init();
    SetName(name);
    Open();
}

CPrinter::~CPrinter() {
    Close();
}

void CPrinter::Init() {
    queueName.Clear();
    driverName.Clear();
    composedName.Clear();
    printerDataString.Clear();
    familyTag.Clear();
    pdlTag.Clear();
    printerHandle = nullptr;
    ownsHandle = 1;
}

void CPrinter::SetName(const WideString& name) {
    queueName.Assign(name);
}

void CPrinter::Open() {
    // A name that could not be copied whole must not open some other queue.
    if (printerHandle == nullptr && !queueName.IsEmpty() && queueName.IsValid()) {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        // Whether a handle came back decides, not the result.
        spooler.OpenPrinterW(const_cast<LPWSTR>(queueName.c_str()), &printerHandle, &defaults);
    }
    if (printerHandle == nullptr) {
        return;
    }
    TwoCallRead<SpoolerRecordStorage> driver;
    if (driver.Read(
            [&](BYTE* buffer, DWORD size, DWORD* needed) {
                return StatusOf(spooler.GetPrinterDriverW(printerHandle, nullptr, 1, buffer, size, needed));
            },
            SizeAtLeast(1))) {
        WideString name(driver.As<DRIVER_INFO_1W>()->pName);
        if (name.IsValid()) {
            driverName.Swap(name);
        }
    }
}

void CPrinter::Close() {
    if (printerHandle != nullptr && ownsHandle != 0) {
        spooler.ClosePrinter(printerHandle);
        printerHandle = nullptr;
    }
}

void CPrinter::ReadPrinterDataString() {
    if (!printerDataString.IsEmpty() || printerHandle == nullptr) {
        return;
    }
    WCHAR data[printerDataCharacters] = {};
    static_assert(sizeof(data) == printerDataBytes, "the printer-data buffer holds 520 bytes");

    // The value is named after the queue's port; without the port the empty name is asked for.
    WCHAR emptyName[1] = {0};
    LPWSTR valueName = emptyName;
    TwoCallRead<SpoolerRecordStorage> port;
    if (port.Read(
            [&](BYTE* buffer, DWORD size, DWORD* needed) {
                return StatusOf(spooler.GetPrinterW(printerHandle, 5, buffer, size, needed));
            },
            SizeAtLeast(1))) {
        const PRINTER_INFO_5W* info = port.As<PRINTER_INFO_5W>();
        if (info->pPortName != nullptr) {
            valueName = info->pPortName;
        }
    }
    DWORD size = 0;
    DWORD status = spooler.GetPrinterDataW(printerHandle, valueName, nullptr, reinterpret_cast<LPBYTE>(data),
                                           printerDataBytes, &size);
    // The value name lies inside the level-5 record.
    port.Release();
    if (status != ERROR_SUCCESS) {
        return;
    }
    if (data[0] == 0 || size == 0 || data[0] == W(' ')) {
        return;
    }
    WideString text(data, WideLengthBounded(data, printerDataCharacters));
    if (text.IsValid()) {
        printerDataString.Swap(text);
    }
}

void CPrinter::SetFamilyTag() {
    if (familyTag.IsEmpty()) {
        familyTag.Assign(familyTagText);
    }
}

void CPrinter::DerivePdlTag() {
    if (!pdlTag.IsEmpty()) {
        return;
    }
    for (const WCHAR* tag : pdlTags) {
        if (driverName.Contains(tag)) {
            pdlTag.Assign(tag);
        }
    }
}

void CPrinter::ComposeName() {
    ReadPrinterDataString();
    SetFamilyTag();
    DerivePdlTag();
    // A part whose storage failed is incomplete; a name built from it must never be applied.
    if (printerDataString.IsEmpty() || familyTag.IsEmpty() || pdlTag.IsEmpty() ||
        !printerDataString.IsValid() || !familyTag.IsValid() || !pdlTag.IsValid()) {
        return;
    }
    WideString name(printerDataString);
    name.Append(separator);
    name.Append(familyTag);
    name.Append(separator);
    name.Append(pdlTag);
    if (name.IsValid()) {
        composedName.Swap(name);
    }
}

const WideString& CPrinter::GetComposedName() {
    if (composedName.IsEmpty()) {
        ComposeName();
    }
    return composedName;
}

int32_t CPrinter::Rename(const WideString& newName) {
    if (newName.IsEmpty() || !newName.IsValid()) {
        return 0;
    }
    CPrinterNaming naming(spooler);
    return naming.RenamePrinter(printerHandle, newName) != 0 ? 1 : 0;
}

int32_t NamePrintQueue(CSpooler& spooler, WideString queueName) {
    CPrinter printer(spooler, queueName);
    const WideString& composedName = printer.GetComposedName();
    return printer.Rename(composedName);
}
