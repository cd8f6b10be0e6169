// Gives a freshly installed print queue the name of this driver family's making:
// "<printer-data text> VRA <PDL tag>", with " (Copy n)" when a local printer already bears it.
#pragma once

#include "coinstaller/wide_string.h"

#include <cstdint>

// `queueName` is the queue's current name. 1 when the spooler took the new name, else 0; a queue that
// cannot be opened or whose name cannot be composed keeps its name.
int32_t NamePrintQueue(WideString queueName);
