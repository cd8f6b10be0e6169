#include "tests/wine/support/orvale_registry.h"

#include "tests/wine/support/registry_values.h"

namespace winetest {

void ForgetCoInstallerState() {
    DeleteKeyTree(HKEY_CURRENT_USER, kPrintSettingsKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kPrintSettingsKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kDefaultCompanionKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kAlternateCompanionKey);
}

} // namespace winetest
