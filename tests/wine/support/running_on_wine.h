// Whether the Windows underneath is Wine, which lacks a few behaviours of Windows that the checks know of.
#pragma once

namespace winetest {

bool RunningOnWine();

} // namespace winetest
