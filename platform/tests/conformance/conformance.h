// Conformance checks of the Win32 behaviour this project relies on, written once against the Win32 API
// and a small world interface, and run both over the host simulation (inside platform_tests) and on
// Windows or Wine (by a plain executable). Nothing here depends on gtest or on the simulation's control
// API: each side supplies its own ConformanceWorld and its own report sink.
#pragma once

#include "platform/platform.h"
#include "platform/portability.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// How a side prepares the world that the checks need. Each preparing function returns null when done,
// or the reason this side cannot do it; the check is then skipped with that reason.
class ConformanceWorld {
  public:
    virtual ~ConformanceWorld() = default;
    virtual const char* Name() const = 0;
    // Wine is the reference where Windows is not at hand, but it lacks a few behaviours of Windows.
    virtual bool IsWine() const { return false; }
    // Removes everything the checks create: the test key tree under HKEY_CURRENT_USER, devices, printers.
    virtual void Clear() = 0;
    virtual void DeleteKeyTree(HKEY root, const WCHAR* path) = 0;
    virtual const char* RestrictKeyAccess(HKEY root, const WCHAR* path, REGSAM allowed) = 0;
    // A device information set holding one device, as the installation service hands it to a
    // co-installer; `description` (may be null) becomes its SPDRP_DEVICEDESC.
    virtual const char* CreateDevice(const WCHAR* instanceId, const WCHAR* description, HDEVINFO* set,
                                     SP_DEVINFO_DATA* element) = 0;
    // A present device exposing one interface of `interfaceClass`.
    virtual const char* AddPresentInterface(const WCHAR* instanceId, const GUID& interfaceClass) = 0;
    // A local printer with a string printer-data value (`valueName` may be null for none).
    virtual const char* AddLocalPrinter(const WCHAR* name, const WCHAR* driver, const WCHAR* port,
                                        const WCHAR* valueName, const WCHAR* valueText) = 0;
};

// Where check outcomes go: the host routes them to gtest, the Windows runner prints them.
struct ConformanceSink {
    void (*failed)(const char* file, int line, const char* message) = nullptr;
    void (*skipped)(const char* check, const char* reason) = nullptr;
    // A Windows behaviour that Wine lacks, seen failing on Wine: reported, not counted as a failure.
    void (*wineDifference)(const char* file, int line, const char* message) = nullptr;
};
ConformanceSink& TheConformanceSink();

struct ConformanceCheck {
    const char* name;
    void (*run)(ConformanceWorld& world);
};
std::vector<ConformanceCheck>& ConformanceChecks();

struct ConformanceRegistrar {
    ConformanceRegistrar(const char* name, void (*run)(ConformanceWorld&)) {
        ConformanceChecks().push_back(ConformanceCheck{name, run});
    }
};

#define CONFORMANCE_CHECK(name)                                                                              \
    static void name(ConformanceWorld& world);                                                               \
    static ConformanceRegistrar name##Registrar(#name, name);                                                \
    static void name(ConformanceWorld& world)

inline void ConformanceFailure(const char* file, int line, const char* format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (TheConformanceSink().failed != nullptr) {
        TheConformanceSink().failed(file, line, message);
    }
}

// CHECK(condition, "format", args...): on failure reports the condition and the formatted values found.
#define CHECK(condition, ...)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            ConformanceFailure(__FILE__, __LINE__, "check failed: " #condition ": " __VA_ARGS__);            \
        }                                                                                                    \
    } while (0)

// CHECK_EXCEPT_WINE("what Wine lacks", condition, "format", args...): a CHECK whose failure on Wine is
// a known difference of Wine from Windows rather than a fault.
#define CHECK_EXCEPT_WINE(difference, condition, ...)                                                        \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            if (world.IsWine()) {                                                                            \
                if (TheConformanceSink().wineDifference != nullptr) {                                        \
                    TheConformanceSink().wineDifference(__FILE__, __LINE__, difference);                     \
                }                                                                                            \
            } else {                                                                                         \
                ConformanceFailure(__FILE__, __LINE__, "check failed: " #condition ": " __VA_ARGS__);        \
            }                                                                                                \
        }                                                                                                    \
    } while (0)

// Ends the current check when a preparation is not possible on this side.
#define SKIP_UNLESS_PREPARED(call)                                                                           \
    do {                                                                                                     \
        if (const char* reason_ = (call)) {                                                                  \
            if (TheConformanceSink().skipped != nullptr) {                                                   \
                TheConformanceSink().skipped(__func__, reason_);                                             \
            }                                                                                                \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)

// ASCII rendering of UTF-16 text for messages (other characters as '?').
inline std::string Narrow(const WCHAR* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string out;
    for (; *text != 0; ++text) {
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return out;
}

inline bool SameText(const WCHAR* left, const WCHAR* right) {
    if (left == nullptr || right == nullptr) {
        return left == right;
    }
    for (; *left != 0 && *left == *right; ++left, ++right) {
    }
    return *left == *right;
}

inline size_t TextLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

// The key under HKEY_CURRENT_USER that the checks use, and that ConformanceWorld::Clear removes.
#define CONFORMANCE_KEY W("Software\\VracoinsConformance")
