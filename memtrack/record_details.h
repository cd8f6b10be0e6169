// What follows a record line when the switches ask for it: the lines of the block's call stack, one per
// frame, and its first bytes in rows of 16. They go wherever the record line goes (the debugger output,
// and the text log file for the records that reach it), never to the raw record file.
#pragma once

#include "memtrack/call_stack.h"
#include "memtrack/mem_header.h"

#include <cstdint>

// The detail lines of one record, each indented by four spaces and ended by "\r\n", in a new text from
// the run-time heap (free it); none when there is nothing to add or no memory for it.
//   - the stack: "    #0 0x00007FF61A2B3C4D vracoins.dll+0x3C4D function file(line)", function and file
//     only where the symbol resolver finds them; or, when `sharedStackId` is not 0, the one line
//     "    same call stack as id=\"<id>\"";
//   - with dataBytes on, the block's first bytes (at most its size): "    0000  41 42 ...  AB..".
// The caller holds the record writer lock: the resolver has one lookup buffer.
char* formatRecordDetails(const OVMemHdr* header, const CallStack* stack, uint32_t sharedStackId);
