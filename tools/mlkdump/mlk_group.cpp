#include "mlk_group.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace mlk {

namespace {

struct GroupKey {
    uint64_t caller;
    FlagClass flagClass;
    bool operator==(const GroupKey& other) const {
        return caller == other.caller && flagClass == other.flagClass;
    }
};

struct GroupKeyHash {
    size_t operator()(const GroupKey& key) const {
        return std::hash<uint64_t>()(key.caller * 3 + static_cast<uint64_t>(key.flagClass));
    }
};

bool comesFirst(const RecordGroup& a, const RecordGroup& b) {
    if (a.bytes != b.bytes) {
        return a.bytes > b.bytes;
    }
    if (a.count != b.count) {
        return a.count > b.count;
    }
    if (a.caller != b.caller) {
        return a.caller < b.caller;
    }
    return a.flagClass < b.flagClass;
}

} // namespace

FlagClass classifyFlags(const Record& record) {
    if (record.underrun != 0 || record.overrun != 0) {
        return FlagClass::damagedGuard;
    }
    return record.release != 0 ? FlagClass::released : FlagClass::none;
}

std::vector<RecordGroup> groupRecords(const std::vector<Record>& records) {
    std::unordered_map<GroupKey, RecordGroup, GroupKeyHash> groups;
    for (const Record& record : records) {
        FlagClass flagClass = classifyFlags(record);
        RecordGroup& group = groups[GroupKey{record.caller, flagClass}];
        group.caller = record.caller;
        group.flagClass = flagClass;
        group.release = group.release || record.release != 0;
        group.overrun = group.overrun || record.overrun != 0;
        group.underrun = group.underrun || record.underrun != 0;
        ++group.count;
        group.bytes += record.size;
    }
    std::vector<RecordGroup> ordered;
    ordered.reserve(groups.size());
    for (const auto& entry : groups) {
        ordered.push_back(entry.second);
    }
    std::sort(ordered.begin(), ordered.end(), comesFirst);
    return ordered;
}

std::string describeGroup(const RecordGroup& group) {
    return "caller=" + hexAddress(group.caller) +
           " flags=" + describeFlags(group.release, group.overrun, group.underrun, false) +
           " count=" + std::to_string(group.count) + " bytes=" + std::to_string(group.bytes);
}

} // namespace mlk
