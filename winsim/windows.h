// The simulation's Win32 face: the declarations of every Windows library it stands in for. Product code
// does not include this header; platform/platform.h does, on hosts that are not Windows.
#pragma once

#include "winsim/kernel/types.h"

#include "winsim/dbghelp/dbghelp.h"
#include "winsim/kernel/debugger.h"
#include "winsim/kernel/files.h"
#include "winsim/kernel/global_memory.h"
#include "winsim/kernel/handles.h"
#include "winsim/kernel/heap.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/modules.h"
#include "winsim/kernel/security.h"
#include "winsim/kernel/stack_trace.h"
#include "winsim/kernel/synchronization.h"
#include "winsim/kernel/text_conversion.h"
#include "winsim/kernel/threads.h"
#include "winsim/kernel/virtual_memory.h"
#include "winsim/registry/registry.h"
#include "winsim/setupapi/setupapi.h"
#include "winsim/spooler/spooler.h"
