// Checks written once against the Win32 API and a world interface, and run on two sides: over the host
// simulation (inside a gtest program) and on Windows or Wine (by a plain executable). Nothing here
// depends on gtest or on the simulation's control API: each side supplies its world and a report sink.
//
// A check is registered with TWO_SIDED_CHECK(WorldType, Name) and receives `world`, a WorldType&. The
// world type must answer IsWine().
#pragma once

#include "tests/two_sided/utf16_text.h"

#include "platform/platform.h"
#include "platform/portability.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// Where check outcomes go: the host routes them to gtest, the Windows runner prints them.
struct CheckSink {
    void (*failed)(const char* file, int line, const char* message) = nullptr;
    void (*skipped)(const char* check, const char* reason) = nullptr;
    // A Windows behaviour that Wine lacks, seen failing on Wine: reported, not counted as a failure.
    void (*wineDifference)(const char* file, int line, const char* message) = nullptr;
};

inline CheckSink& TheCheckSink() {
    static CheckSink sink;
    return sink;
}

template <class World> struct NamedCheck {
    const char* name;
    void (*run)(World& world);
};

// Every check registered for a world type, in registration order.
template <class World> std::vector<NamedCheck<World>>& ChecksOf() {
    static std::vector<NamedCheck<World>> checks;
    return checks;
}

template <class World> struct CheckRegistrar {
    CheckRegistrar(const char* name, void (*run)(World&)) {
        ChecksOf<World>().push_back(NamedCheck<World>{name, run});
    }
};

#define TWO_SIDED_CHECK(WorldType, name)                                                                     \
    static void name(WorldType& world);                                                                      \
    static CheckRegistrar<WorldType> name##Registrar(#name, name);                                           \
    static void name(WorldType& world)

inline void ReportCheckFailure(const char* file, int line, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (TheCheckSink().failed != nullptr) {
        TheCheckSink().failed(file, line, message);
    }
}

// CHECK(condition, "format", args...): on failure reports the condition and the formatted values found.
// Answers whether the condition held, so that a check can stop where going on makes no sense.
#define CHECK(condition, ...)                                                                                \
    ((condition)                                                                                             \
         ? true                                                                                              \
         : (ReportCheckFailure(__FILE__, __LINE__, "check failed: " #condition ": " __VA_ARGS__), false))

// CHECK_EXCEPT_WINE("what Wine lacks", condition, "format", args...): a CHECK whose failure on Wine is
// a known difference of Wine from Windows rather than a fault.
#define CHECK_EXCEPT_WINE(difference, condition, ...)                                                        \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            if (world.IsWine()) {                                                                            \
                if (TheCheckSink().wineDifference != nullptr) {                                              \
                    TheCheckSink().wineDifference(__FILE__, __LINE__, difference);                           \
                }                                                                                            \
            } else {                                                                                         \
                ReportCheckFailure(__FILE__, __LINE__, "check failed: " #condition ": " __VA_ARGS__);        \
            }                                                                                                \
        }                                                                                                    \
    } while (0)

// Ends the current check as skipped, naming why this side cannot host it.
#define SKIP_CHECK(reason)                                                                                   \
    do {                                                                                                     \
        if (TheCheckSink().skipped != nullptr) {                                                             \
            TheCheckSink().skipped(__func__, (reason));                                                      \
        }                                                                                                    \
        return;                                                                                              \
    } while (0)

// Ends the current check when a preparation is not possible on this side: `call` answers null when done,
// or the reason.
#define SKIP_UNLESS_PREPARED(call)                                                                           \
    do {                                                                                                     \
        if (const char* reason_ = (call)) {                                                                  \
            SKIP_CHECK(reason_);                                                                             \
        }                                                                                                    \
    } while (0)
