// The one way into Windows. On Windows this is the SDK and nothing else; elsewhere the same names and
// signatures are declared by the simulation in platform/sim/, which implements them in memory.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <setupapi.h>
#include <winspool.h>
#include <dbghelp.h>
#else
#include "sim/win32_types.h"
#include "sim/win32_kernel.h"
#include "sim/win32_registry.h"
#include "sim/win32_setupapi.h"
#include "sim/win32_spooler.h"
#include "sim/win32_memory.h"
#include "sim/win32_threading.h"
#include "sim/win32_debug.h"
#include "sim/win32_files.h"
#include "sim/win32_strings.h"
#include "sim/win32_modules.h"
#include "sim/win32_dbghelp.h"
#endif
