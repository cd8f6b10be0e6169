#include "tests/wine/support/test_printer.h"

#include <cstdio>
#include <cstring>

namespace winetest {

namespace {

// Enough of a PPD for the PostScript driver to accept the driver package.
const char kMinimalPpd[] = "*PPD-Adobe: \"4.3\"\n"
                           "*FormatVersion: \"4.3\"\n"
                           "*ModelName: \"VRA Test Printer\"\n"
                           "*NickName: \"VRA Test Printer\"\n"
                           "*LanguageLevel: \"3\"\n";

std::string Describe(const char* step, DWORD error) {
    char message[160];
    std::snprintf(message, sizeof(message), "%s failed, error %lu", step, error);
    return message;
}

// The spooler's two-call protocol: `call(buffer, size, &needed)` is made once for the size and once more
// with a buffer of that size. Empty when the size is 0 or the second call fails; the last error is then
// that of the call that ended it.
template <class SpoolerCall> std::vector<BYTE> ReadSized(SpoolerCall call) {
    DWORD needed = 0;
    call(nullptr, 0, &needed);
    if (needed == 0) {
        return std::vector<BYTE>();
    }
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed)) {
        return std::vector<BYTE>();
    }
    return buffer;
}

// The level 4 record of an open printer; empty when it cannot be read.
std::vector<BYTE> PrinterRecord4(HANDLE printer) {
    return ReadSized([printer](BYTE* buffer, DWORD size, DWORD* needed) {
        return GetPrinterW(printer, 4, buffer, size, needed);
    });
}

bool DriverInstalled(const wchar_t* driverName) {
    DWORD count = 0;
    const std::vector<BYTE> buffer = ReadSized([&count](BYTE* data, DWORD size, DWORD* needed) {
        return EnumPrinterDriversW(nullptr, nullptr, 1, data, size, needed, &count);
    });
    if (buffer.empty()) {
        return false;
    }
    const auto* drivers = reinterpret_cast<const DRIVER_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (drivers[i].pName != nullptr && std::wstring(drivers[i].pName) == driverName) {
            return true;
        }
    }
    return false;
}

std::wstring WritePpd(std::string* why) {
    wchar_t directory[MAX_PATH] = {};
    if (GetTempPathW(MAX_PATH, directory) == 0) {
        *why = Describe("GetTempPathW", GetLastError());
        return std::wstring();
    }
    const std::wstring path = std::wstring(directory) + L"vra_test_printer.ppd";
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = Describe("CreateFileW for the PPD", GetLastError());
        return std::wstring();
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, kMinimalPpd, sizeof(kMinimalPpd) - 1, &written, nullptr);
    CloseHandle(file);
    if (!ok) {
        *why = Describe("WriteFile for the PPD", GetLastError());
        return std::wstring();
    }
    return path;
}

} // namespace

bool EnsurePrinterDriver(const wchar_t* driverName, std::string* why) {
    if (DriverInstalled(driverName)) {
        return true;
    }
    const std::wstring ppd = WritePpd(why);
    if (ppd.empty()) {
        return false;
    }
    std::wstring name = driverName;
    wchar_t driverFile[] = L"wineps.drv";
    wchar_t dataType[] = L"RAW";
    std::wstring dataFile = ppd;
    DRIVER_INFO_3W info = {};
    info.cVersion = 3;
    info.pName = &name[0];
    info.pDriverPath = driverFile;
    info.pConfigFile = driverFile;
    info.pDataFile = &dataFile[0];
    info.pDefaultDataType = dataType;
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES)) {
        *why = Describe("AddPrinterDriverExW with wineps.drv", GetLastError());
        return false;
    }
    return true;
}

TestPrinter::TestPrinter(const wchar_t* name, const wchar_t* driverName, const wchar_t* portName) {
    DeletePrinterNamed(name);
    std::wstring printerName = name;
    std::wstring driver = driverName;
    std::wstring port = portName;
    wchar_t processor[] = L"WinPrint";
    wchar_t dataType[] = L"RAW";
    PRINTER_INFO_2W info = {};
    info.pPrinterName = &printerName[0];
    info.pDriverName = &driver[0];
    info.pPortName = &port[0];
    info.pPrintProcessor = processor;
    info.pDatatype = dataType;
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    handle = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (handle == nullptr) {
        failure = Describe("AddPrinterW", GetLastError());
    }
}

TestPrinter::~TestPrinter() {
    if (handle != nullptr) {
        DeletePrinter(handle);
        ClosePrinter(handle);
    }
}

std::wstring TestPrinter::CurrentName() const {
    const std::vector<BYTE> buffer = PrinterRecord4(handle);
    if (buffer.empty()) {
        return std::wstring();
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
    return info->pPrinterName != nullptr ? info->pPrinterName : L"";
}

DWORD TestPrinter::SetDataText(const wchar_t* valueName, const wchar_t* text) const {
    const std::wstring value = text;
    std::wstring name = valueName;
    return SetPrinterDataW(handle, &name[0], REG_SZ,
                           reinterpret_cast<BYTE*>(const_cast<wchar_t*>(value.c_str())),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::unique_ptr<TestPrinter> AddTestPrinter(const wchar_t* name, const wchar_t* driverName,
                                            const wchar_t* portName, std::string* why) {
    std::string driverFailure;
    if (!EnsurePrinterDriver(driverName, &driverFailure)) {
        *why = "cannot install the printer driver: " + driverFailure;
        return nullptr;
    }
    auto printer = std::make_unique<TestPrinter>(name, driverName, portName);
    if (!printer->IsAdded()) {
        *why = printer->Failure();
        return nullptr;
    }
    return printer;
}

std::vector<std::wstring> LocalPrinterNames() {
    std::vector<std::wstring> names;
    DWORD count = 0;
    const std::vector<BYTE> buffer = ReadSized([&count](BYTE* data, DWORD size, DWORD* needed) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, data, size, needed, &count);
    });
    if (buffer.empty()) {
        return names;
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        names.push_back(printers[i].pPrinterName != nullptr ? printers[i].pPrinterName : L"");
    }
    return names;
}

bool HasLocalPrinter(const std::wstring& name) {
    for (const std::wstring& existing : LocalPrinterNames()) {
        if (existing == name) {
            return true;
        }
    }
    return false;
}

bool SpoolerRenamesAtLevel4(const TestPrinter& printer, DWORD* error) {
    *error = ERROR_INVALID_HANDLE;
    if (!printer.IsAdded()) {
        return false;
    }
    const std::wstring name = printer.CurrentName();
    HANDLE handle = nullptr;
    std::wstring openName = name;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(&openName[0], &handle, &defaults)) {
        *error = GetLastError();
        return false;
    }
    std::vector<BYTE> buffer = PrinterRecord4(handle);
    bool accepted = false;
    if (!buffer.empty()) {
        SetLastError(ERROR_SUCCESS);
        accepted = SetPrinterW(handle, 4, buffer.data(), 0) != FALSE;
        *error = accepted ? ERROR_SUCCESS : GetLastError();
    } else {
        *error = GetLastError();
    }
    ClosePrinter(handle);
    return accepted;
}

void DeletePrinterNamed(const wchar_t* name) {
    std::wstring openName = name;
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterW(&openName[0], &handle, &defaults)) {
        DeletePrinter(handle);
        ClosePrinter(handle);
    }
}

} // namespace winetest
