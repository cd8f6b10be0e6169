#include "tests/wine/support/running_on_wine.h"

#include <windows.h>

namespace winetest {

bool RunningOnWine() {
    // Wine's ntdll exports its version; Windows' has no such export.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace winetest
