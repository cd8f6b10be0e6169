// Grouping of a raw record file's records by call site and by what their flags say, for `mlkdump --group`:
// one line per group instead of one per record, so a file of many records shows where the blocks came from.
#pragma once

#include "mlk_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mlk {

// What a record's flags say. A record with a damaged guard counts as damaged even when it was also
// released after teardown: the damage is the graver finding.
enum class FlagClass {
    damagedGuard, // underrun or overrun set
    released,     // release set: released after the collector's teardown
    none,
};

FlagClass classifyFlags(const Record& record);

// The records of one caller and one flag class.
struct RecordGroup {
    uint64_t caller = 0;
    FlagClass flagClass = FlagClass::none;
    // The flags that at least one of the group's records carries.
    bool release = false;
    bool overrun = false;
    bool underrun = false;
    uint64_t count = 0;
    uint64_t bytes = 0; // the records' sizes added up
};

// The groups of `records`, largest total bytes first; on equal totals the larger count first, then the
// lower caller address, then damaged guards before releases before neither.
std::vector<RecordGroup> groupRecords(const std::vector<Record>& records);

// "caller=0x00007FF612345678 flags=overrun,underrun count=3 bytes=72": the flags the group's records carry,
// spelt as a record's line spells them.
std::string describeGroup(const RecordGroup& group);

} // namespace mlk
