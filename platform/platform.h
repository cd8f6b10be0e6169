// The one way into Windows. On Windows this is the SDK and nothing else; elsewhere the same names and
// signatures are declared by the simulation in winsim/, which implements them in memory.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <setupapi.h>
#include <winspool.h>
#include <dbghelp.h>
#include <sddl.h>
#else
#include "winsim/windows.h"
#endif
