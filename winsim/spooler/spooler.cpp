// Print spooler functions of the simulation (winspool) over the printers of store.h; spooler.h says what
// is modelled.
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/kernel/last_error.h"
#include "winsim/spooler/spooler.h"
#include "winsim/spooler/store.h"

#include <cstring>

using namespace winsim_detail;

namespace {

constexpr DWORD kDeviceNotSelectedTimeout = 15000; // the spooler's defaults, in milliseconds
constexpr DWORD kTransmissionRetryTimeout = 45000;
constexpr ACCESS_MASK kGenericRead = 0x80000000;
constexpr ACCESS_MASK kGenericWrite = 0x40000000;
constexpr ACCESS_MASK kGenericExecute = 0x20000000;
constexpr ACCESS_MASK kGenericAll = 0x10000000;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD StringBytes(const SimWString& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
}

// Packs records at the start of a caller's buffer and their strings after the last record.
class RecordPacker {
  public:
    RecordPacker(LPBYTE buffer, size_t recordBytes) : buffer_(buffer), next_(recordBytes) {}
    LPWSTR Put(const SimWString& text) {
        auto* target = reinterpret_cast<LPWSTR>(buffer_ + next_);
        std::memcpy(target, text.c_str(), StringBytes(text));
        next_ += StringBytes(text);
        return target;
    }

  private:
    LPBYTE buffer_;
    size_t next_;
};

// The printer behind a handle; 0 or the error to report.
DWORD PrinterOfHandle(HANDLE handle, PrinterHandle** found) {
    auto entry = Spooler().handles.find(reinterpret_cast<ULONG_PTR>(handle));
    if (entry == Spooler().handles.end() || entry->second.printer->removed) {
        return ERROR_INVALID_HANDLE;
    }
    *found = &entry->second;
    return ERROR_SUCCESS;
}

// The start of every call on a printer handle: the injected failure, then the handle. Whether the
// handle's printer was found; if not, *error holds the error to report.
bool PrinterOfCall(const PlatformCall& call, HANDLE handle, PrinterHandle** found, DWORD* error) {
    if (call.Fails(error)) {
        return false;
    }
    *error = PrinterOfHandle(handle, found);
    return *error == ERROR_SUCCESS;
}

// The two-call size protocol of the record queries. First the arguments: the count is required and a
// null buffer must come with size 0; 0 or the error to report.
DWORD CheckRecordArguments(LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (needed == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return buffer == nullptr && size != 0 ? ERROR_INVALID_USER_BUFFER : ERROR_SUCCESS;
}

// Then the answer: the size needed goes to the count whether or not the buffer holds it; 0 when it
// does, or ERROR_INSUFFICIENT_BUFFER.
DWORD OfferSize(DWORD needed, DWORD available, LPDWORD count) {
    *count = needed;
    return available < needed ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

ACCESS_MASK MapPrinterAccess(ACCESS_MASK access) {
    ACCESS_MASK mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (access & (kGenericRead | kGenericWrite | kGenericExecute)) {
        mapped |= READ_CONTROL | PRINTER_ACCESS_USE;
    }
    if (access & kGenericAll) {
        mapped |= PRINTER_ALL_ACCESS;
    }
    return mapped == 0 ? PRINTER_ACCESS_USE : mapped;
}

// Level 4 or 5 record of one printer, strings packed by `packer`.
void WritePrinterRecord(const Printer& printer, DWORD level, LPBYTE record, RecordPacker& packer) {
    if (level == 4) {
        auto* info = reinterpret_cast<PRINTER_INFO_4W*>(record);
        info->pPrinterName = packer.Put(printer.name);
        info->pServerName = nullptr; // a local printer
        info->Attributes = printer.attributes;
    } else {
        auto* info = reinterpret_cast<PRINTER_INFO_5W*>(record);
        info->pPrinterName = packer.Put(printer.name);
        info->pPortName = packer.Put(printer.port);
        info->Attributes = printer.attributes;
        info->DeviceNotSelectedTimeout = kDeviceNotSelectedTimeout;
        info->TransmissionRetryTimeout = kTransmissionRetryTimeout;
    }
}

DWORD PrinterRecordBytes(const Printer& printer, DWORD level) {
    if (level == 4) {
        return static_cast<DWORD>(sizeof(PRINTER_INFO_4W)) + StringBytes(printer.name);
    }
    return static_cast<DWORD>(sizeof(PRINTER_INFO_5W)) + StringBytes(printer.name) +
           StringBytes(printer.port);
}

bool IsValidPrinterName(const SimWString& name) {
    return !name.empty() && name.find(u'\\') == SimWString::npos && name.find(u',') == SimWString::npos;
}

} // namespace

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    PlatformCall call("OpenPrinterW");
    if (phPrinter == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *phPrinter = nullptr;
    DWORD error = 0;
    if (call.Fails(&error)) {
        return Fail(error);
    }
    std::shared_ptr<Printer> printer =
        pPrinterName != nullptr ? FindPrinter(FromWide(pPrinterName)) : nullptr;
    if (!printer) {
        return Fail(ERROR_INVALID_PRINTER_NAME);
    }
    SpoolerState& state = Spooler();
    ULONG_PTR value = state.nextHandle;
    state.nextHandle += 8;
    state.handles[value] =
        PrinterHandle{printer, MapPrinterAccess(pDefault != nullptr ? pDefault->DesiredAccess : 0)};
    *phPrinter = reinterpret_cast<HANDLE>(value);
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    PlatformCall call("ClosePrinter");
    DWORD error = 0;
    if (call.Fails(&error)) {
        return Fail(error);
    }
    // A handle of a removed printer still closes: the handle itself stays valid until then.
    if (Spooler().handles.erase(reinterpret_cast<ULONG_PTR>(hPrinter)) == 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                              LPDWORD pcbNeeded) {
    PlatformCall call("GetPrinterDriverW");
    PrinterHandle* handle = nullptr;
    DWORD error = 0;
    if (!PrinterOfCall(call, hPrinter, &handle, &error)) {
        return Fail(error);
    }
    if (Level != 1) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if ((error = CheckRecordArguments(pDriverInfo, cbBuf, pcbNeeded)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    const Printer& printer = *handle->printer;
    DWORD needed = static_cast<DWORD>(sizeof(DRIVER_INFO_1W)) + StringBytes(printer.driver);
    if ((error = OfferSize(needed, cbBuf, pcbNeeded)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    RecordPacker packer(pDriverInfo, sizeof(DRIVER_INFO_1W));
    reinterpret_cast<DRIVER_INFO_1W*>(pDriverInfo)->pName = packer.Put(printer.driver);
    return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    PlatformCall call("GetPrinterW");
    PrinterHandle* handle = nullptr;
    DWORD error = 0;
    if (!PrinterOfCall(call, hPrinter, &handle, &error)) {
        return Fail(error);
    }
    if (Level != 4 && Level != 5) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if ((error = CheckRecordArguments(pPrinter, cbBuf, pcbNeeded)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    const Printer& printer = *handle->printer;
    DWORD needed = PrinterRecordBytes(printer, Level);
    if ((error = OfferSize(needed, cbBuf, pcbNeeded)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    RecordPacker packer(pPrinter, Level == 4 ? sizeof(PRINTER_INFO_4W) : sizeof(PRINTER_INFO_5W));
    WritePrinterRecord(printer, Level, pPrinter, packer);
    return TRUE;
}

DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
    PlatformCall call("GetPrinterDataW");
    SimWString name = FromWide(pValueName);
    Spooler().lastDataValueName = name;
    PrinterHandle* handle = nullptr;
    DWORD error = 0;
    if (!PrinterOfCall(call, hPrinter, &handle, &error)) {
        return error;
    }
    if (pcbNeeded == nullptr || (pData == nullptr && nSize != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    const PrinterDataValue* value = nullptr;
    for (const PrinterDataValue& candidate : handle->printer->data) {
        if (EqualsIgnoringCase(candidate.name, name)) {
            value = &candidate;
            break;
        }
    }
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (pType != nullptr) {
        *pType = value->type;
    }
    DWORD size = static_cast<DWORD>(value->data.size());
    *pcbNeeded = size;
    if (nSize < size) {
        return ERROR_MORE_DATA;
    }
    if (size != 0) {
        std::memcpy(pData, value->data.data(), size);
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    PlatformCall call("EnumPrintersW");
    DWORD error = 0;
    if (call.Fails(&error)) {
        return Fail(error);
    }
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *pcbNeeded = 0;
    *pcReturned = 0;
    if ((Flags & PRINTER_ENUM_LOCAL) == 0 || (Name != nullptr && *Name != 0)) {
        return Fail(ERROR_INVALID_PARAMETER); // only the local printers of this machine are simulated
    }
    if (Level != 4) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (pPrinterEnum == nullptr && cbBuf != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const auto& printers = Spooler().printers;
    DWORD needed = 0;
    for (const auto& printer : printers) {
        needed += PrinterRecordBytes(*printer, Level);
    }
    if ((error = OfferSize(needed, cbBuf, pcbNeeded)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    RecordPacker packer(pPrinterEnum, printers.size() * sizeof(PRINTER_INFO_4W));
    for (size_t i = 0; i < printers.size(); ++i) {
        WritePrinterRecord(*printers[i], Level, pPrinterEnum + i * sizeof(PRINTER_INFO_4W), packer);
    }
    *pcReturned = static_cast<DWORD>(printers.size());
    return TRUE;
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    PlatformCall call("SetPrinterW");
    Spooler().setPrinterLevels.push_back(Level);
    PrinterHandle* handle = nullptr;
    DWORD error = 0;
    if (!PrinterOfCall(call, hPrinter, &handle, &error)) {
        return Fail(error);
    }
    if ((handle->granted & PRINTER_ACCESS_ADMINISTER) == 0) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (Level != 4) {
        return Fail(ERROR_INVALID_LEVEL);
    }
    if (pPrinter == nullptr || Command != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    SimWString newName = FromWide(reinterpret_cast<const PRINTER_INFO_4W*>(pPrinter)->pPrinterName);
    if (!IsValidPrinterName(newName)) {
        return Fail(ERROR_INVALID_PRINTER_NAME);
    }
    std::shared_ptr<Printer> holder = FindPrinter(newName);
    if (holder && holder != handle->printer) {
        return Fail(ERROR_PRINTER_ALREADY_EXISTS);
    }
    handle->printer->name = newName;
    return TRUE;
}
