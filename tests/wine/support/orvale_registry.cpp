#include "tests/wine/support/orvale_registry.h"

#include "tests/wine/support/registry_values.h"

namespace winetest {

void ForgetCoInstallerState() {
    DeleteKeyTree(HKEY_CURRENT_USER, kPrintSettingsKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kPrintSettingsKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kDefaultCompanionKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kAlternateCompanionKey);
}

RegistryValue UserSettingsValue(const wchar_t* name) {
    return ReadValue(HKEY_CURRENT_USER, kPrintSettingsKey, name);
}

void StorePrePassState(const wchar_t* queueName) {
    ForgetCoInstallerState();
    WriteDword(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue, 2);
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, queueName);
}

} // namespace winetest
