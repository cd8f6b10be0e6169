// Windows paths on the host, mapped as Wine maps them: a drive letter names a host directory, and the
// host's root is drive Z:, so "Z:\tmp\logs\" is /tmp/logs/. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"

#include <string>

namespace winsim_detail {

// "C:\Logs\x.txt" -> "<root of C:>/Logs/x.txt". Relative paths and unknown drives map to "" (no such path).
// Allocates from malloc only: the file functions that use it may run inside the code under test's
// operator new.
SimString ToHostPath(const char* windowsPath);
// "/tmp/x" -> "Z:\tmp\x".
std::string ToWindowsPath(const std::string& hostPath);

} // namespace winsim_detail
