// Two-call reads of spooler records: ask for the size, then read into a block of that size. The block
// comes from GlobalAlloc(GPTR) and is stored in `record` as soon as it exists, also when the read then
// fails; the caller releases it with GlobalFree. `record` is null when no block was obtained.
#pragma once

#include "platform/platform.h"

// GetPrinterDriverW for the local environment.
bool QueryPrinterDriver(HANDLE printerHandle, DWORD level, LPBYTE& record);
// GetPrinterW.
bool QueryPrinter(HANDLE printerHandle, DWORD level, LPBYTE& record);
