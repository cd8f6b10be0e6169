// Runs the checks of one world type over the host simulation, one gtest per check: a failed check is a
// gtest failure at the check's own line, a skipped check a gtest skip with its reason.
#pragma once

#include "two_sided_check.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace two_sided {

inline std::string& SkipReason() {
    static std::string reason;
    return reason;
}

inline void ReportFailureToGtest(const char* file, int line, const char* message) {
    ADD_FAILURE_AT(file, line) << message;
}

inline void ReportSkipToGtest(const char* check, const char* reason) {
    SkipReason() = std::string(check) + ": " + reason;
}

// Runs one check; answers false (and the caller skips) when the check skipped itself.
template <class World> bool RunCheckUnderGtest(const NamedCheck<World>& check, World& world) {
    TheCheckSink().failed = ReportFailureToGtest;
    TheCheckSink().skipped = ReportSkipToGtest;
    SkipReason().clear();
    check.run(world);
    return SkipReason().empty();
}

template <class World> std::string CheckName(const ::testing::TestParamInfo<NamedCheck<World>>& info) {
    return info.param.name;
}

} // namespace two_sided

// Names the check in gtest's listings instead of dumping its bytes.
template <class World> void PrintTo(const NamedCheck<World>& check, std::ostream* out) {
    *out << check.name;
}
