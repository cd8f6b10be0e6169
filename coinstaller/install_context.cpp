#include "coinstaller/install_context.h"

#include "coinstaller/registry_key.h"
#include "coinstaller/registry_names.h"

namespace {

// The per-user settings key, opened afresh for each operation. A path whose storage could not be had
// stays invalid, and the wrapper then opens nothing.
bool OpenSettingsKey(CRegistryKey& key, RegistryAccessMode mode, bool create) {
    return key.Open(HKEY_CURRENT_USER, settingsKeyPath, mode, create);
}

} // namespace

CInstallContext::CInstallContext() {
    Load();
}

void CInstallContext::Load() {
    CRegistryKey key;
    OpenSettingsKey(key, AccessRead, false);
    DWORD stored = 0;
    if (key.ReadDword(installContextValueName, stored)) {
        context = static_cast<int32_t>(stored);
    }
    key.Close();
}

void CInstallContext::Save() {
    CRegistryKey key;
    OpenSettingsKey(key, AccessAll, true);
    key.WriteDword(installContextValueName, static_cast<DWORD>(context));
    key.Close();
}

int32_t CInstallContext::SetContext(int32_t value) {
    if (value <= 0 || value > 3) {
        return 0;
    }
    context = value;
    Save();
    return 1;
}

int32_t CInstallContext::ClearContext() {
    CRegistryKey key;
    OpenSettingsKey(key, AccessAll, false);
    int32_t deleted = key.DeleteValue(installContextValueName) ? 1 : 0;
    key.Close();
    return deleted;
}

const WideString& CInstallContext::ReadPrinterName() {
    CRegistryKey key;
    OpenSettingsKey(key, AccessRead, false);
    key.ReadString(originalPrinterNameValueName, printerName);
    key.Close();
    return printerName;
}

int32_t CInstallContext::ClearPrinterName() {
    CRegistryKey key;
    OpenSettingsKey(key, AccessAll, false);
    int32_t deleted = key.DeleteValue(originalPrinterNameValueName) ? 1 : 0;
    key.Close();
    return deleted;
}
