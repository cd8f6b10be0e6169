#include "tests/wine/support/driver_package.h"

#include "tests/wine/support/registry_values.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace winetest {

namespace {

const char kInfName[] = "vra_printer.inf";

std::string Describe(const char* step, DWORD error) {
    char message[200];
    std::snprintf(message, sizeof(message), "%s failed, error %#lx", step, error);
    return message;
}

// An INF string value: quoted, with the percent sign (which starts a string key) doubled.
std::string InfString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    return quoted + "\"";
}

// The model's install section is found by SetupDiGetActualSectionToInstall, which appends the
// platform's decoration when the INF has one; the CoInstallers section hangs off the name it returns.
std::string InfText(const std::string& modelDescription, const std::string& hardwareId,
                    const std::string& coInstallerPath) {
    std::string text = "[Version]\r\n"
                       "Signature=\"$Windows NT$\"\r\n"
                       "Class=Printer\r\n"
                       "ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
                       "Provider=%Maker%\r\n"
                       "\r\n"
                       "[Manufacturer]\r\n"
                       "%Maker%=Models,NTamd64\r\n"
                       "\r\n"
                       "[Models.NTamd64]\r\n" +
                       InfString(modelDescription) + "=Model_Install," + hardwareId +
                       "\r\n"
                       "\r\n"
                       "[Model_Install]\r\n"
                       "; the model's own driver files are none of the co-installer's business\r\n"
                       "\r\n";
    if (!coInstallerPath.empty()) {
        text += "[Model_Install.CoInstallers]\r\n"
                "AddReg=CoInstaller_AddReg\r\n"
                "\r\n"
                "[CoInstaller_AddReg]\r\n"
                "HKR,,CoInstallers32,0x00010000," +
                InfString(coInstallerPath + ",VRACoInstallerEntryProc") + "\r\n\r\n";
    }
    text += "[Strings]\r\n"
            "Maker=\"Orvale\"\r\n";
    return text;
}

} // namespace

PrinterDriverPackage::PrinterDriverPackage(const char* directoryName, const std::string& modelDescription,
                                           const std::string& hardwareId, const std::string& coInstallerPath)
    : hardwareId(hardwareId) {
    char temp[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        failure = Describe("GetTempPathA", GetLastError());
        return;
    }
    directory = std::string(temp) + directoryName;
    if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        failure = Describe("CreateDirectoryA for the driver package", GetLastError());
        directory.clear();
        return;
    }
    const std::string path = directory + "\\" + kInfName;
    const std::string text = InfText(modelDescription, hardwareId, coInstallerPath);
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = Describe("CreateFileA for the INF", GetLastError());
        return;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok || written != text.size()) {
        failure = Describe("WriteFile for the INF", error);
        DeleteFileA(path.c_str());
        return;
    }
    infPath = path;
}

PrinterDriverPackage::~PrinterDriverPackage() {
    if (!infPath.empty()) {
        DeleteFileA(infPath.c_str());
    }
    if (!directory.empty()) {
        RemoveDirectoryA(directory.c_str());
    }
}

bool PrinterDriverPackage::PrepareInstall(HDEVINFO set, SP_DEVINFO_DATA* element, std::string* why) const {
    if (infPath.empty()) {
        *why = "the driver package has no INF: " + failure;
        return false;
    }
    // SPDRP_HARDWAREID is a REG_MULTI_SZ: the id, its NUL and the list's closing NUL.
    std::wstring ids = Widen(hardwareId);
    ids.push_back(L'\0');
    if (!SetupDiSetDeviceRegistryPropertyW(set, element, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.c_str()),
                                           static_cast<DWORD>((ids.size() + 1) * sizeof(wchar_t)))) {
        *why = Describe("SetupDiSetDeviceRegistryPropertyW(SPDRP_HARDWAREID)", GetLastError());
        return false;
    }

    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof(params);
    if (!SetupDiGetDeviceInstallParamsW(set, element, &params)) {
        *why = Describe("SetupDiGetDeviceInstallParamsW", GetLastError());
        return false;
    }
    const std::wstring inf = Widen(infPath);
    if (inf.empty() || inf.size() >= MAX_PATH) {
        *why = "the INF's path does not fit the install parameters: " + infPath;
        return false;
    }
    params.Flags |= DI_ENUMSINGLEINF;
    std::wcsncpy(params.DriverPath, inf.c_str(), MAX_PATH - 1);
    if (!SetupDiSetDeviceInstallParamsW(set, element, &params)) {
        *why = Describe("SetupDiSetDeviceInstallParamsW", GetLastError());
        return false;
    }
    if (!SetupDiBuildDriverInfoList(set, element, SPDIT_COMPATDRIVER)) {
        *why = Describe("SetupDiBuildDriverInfoList", GetLastError());
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, element)) {
        *why = Describe("SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV)", GetLastError());
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTER_COINSTALLERS, set, element)) {
        *why = Describe("SetupDiCallClassInstaller(DIF_REGISTER_COINSTALLERS)", GetLastError());
        return false;
    }
    return true;
}

std::string ServiceAnswer::Text() const {
    if (succeeded) {
        return "TRUE";
    }
    char text[48];
    std::snprintf(text, sizeof(text), "FALSE, error %#lx", error);
    return text;
}

ServiceAnswer InstallThroughService(HDEVINFO set, SP_DEVINFO_DATA* element) {
    // This SetupAPI leaves the last error as it was when it succeeds.
    SetLastError(ERROR_SUCCESS);
    const BOOL succeeded = SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, element);
    return ServiceAnswer{succeeded, GetLastError()};
}

std::wstring RegisteredCoInstallers(HDEVINFO set, SP_DEVINFO_DATA* element) {
    HKEY key = SetupDiOpenDevRegKey(set, element, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    const RegistryValue value = ReadValueFromKey(key, L"CoInstallers32");
    RegCloseKey(key);
    if (!value.Exists() || value.type != REG_MULTI_SZ) {
        return std::wstring();
    }
    std::wstring all(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&all[0], value.data.data(), all.size() * sizeof(wchar_t));
    std::wstring joined;
    for (size_t start = 0; start < all.size() && all[start] != L'\0';) {
        const size_t end = all.find(L'\0', start);
        const std::wstring entry =
            all.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        joined += (joined.empty() ? L"" : L"; ") + entry;
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    return joined;
}

} // namespace winetest
