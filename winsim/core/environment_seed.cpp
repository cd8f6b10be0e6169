// The simulated machine's starting registry, taken from the host environment variable WINSIM_SEED when
// this library is loaded. It exists for test programs whose very first allocation already reads the
// registry (a module whose allocation hooks serve the whole process reads its switches during static
// initialisation): this library's initialisers run before those of the programs and modules that link
// it, and the seeding itself allocates from malloc only, so the switches are in place before the first
// operator new of the process.
//
// Format: entries separated by ';', each "<root>\<key path>\<value name>=<type>:<data>", root HKLM or
// HKCU, type dword (decimal or 0x hexadecimal) or sz (UTF-8 text, stored as UTF-16 with its NUL), e.g.
//   WINSIM_SEED='HKLM\SOFTWARE\Orvale\DIZadaridi\TrackMemoryAllocation=dword:3'
// Data cannot hold ';'. A malformed entry ends the process with a message: a test that depends on the
// seed must not run without it.
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/registry/store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace winsim_detail;

namespace {

[[noreturn]] void Malformed(const char* entry, size_t length, const char* why) {
    std::fprintf(stderr, "winsim: WINSIM_SEED entry \"%.*s\": %s.\n", static_cast<int>(length), entry, why);
    std::exit(2);
}

void SeedEntry(const char* entry, size_t length) {
    const char* end = entry + length;
    const char* equals = static_cast<const char*>(std::memchr(entry, '=', length));
    if (equals == nullptr) {
        Malformed(entry, length, "no '='");
    }
    HKEY root = nullptr;
    size_t rootLength = 0;
    if (length > 5 && std::strncmp(entry, "HKLM\\", 5) == 0) {
        root = HKEY_LOCAL_MACHINE;
        rootLength = 5;
    } else if (length > 5 && std::strncmp(entry, "HKCU\\", 5) == 0) {
        root = HKEY_CURRENT_USER;
        rootLength = 5;
    } else {
        Malformed(entry, length, "the root must be HKLM or HKCU");
    }
    const char* path = entry + rootLength;
    const char* lastBackslash = nullptr;
    for (const char* c = path; c < equals; ++c) {
        if (*c == '\\') {
            lastBackslash = c;
        }
    }
    if (lastBackslash == nullptr || lastBackslash == path) {
        Malformed(entry, length, "no key path before the value name");
    }
    SimWString keyPath = FromUtf8Bytes(path, static_cast<size_t>(lastBackslash - path));
    SimWString valueName = FromUtf8Bytes(lastBackslash + 1, static_cast<size_t>(equals - lastBackslash - 1));

    const char* typed = equals + 1;
    const char* colon = static_cast<const char*>(std::memchr(typed, ':', static_cast<size_t>(end - typed)));
    if (colon == nullptr) {
        Malformed(entry, length, "no type before the data");
    }
    SimString type(typed, static_cast<size_t>(colon - typed));
    SimString data(colon + 1, static_cast<size_t>(end - colon - 1));

    ControlCall call;
    std::shared_ptr<RegKey> key = EnsureKey(root, keyPath);
    if (!key) {
        Malformed(entry, length, "the key path is not valid");
    }
    if (type == "dword") {
        char* parsedEnd = nullptr;
        unsigned long long value = std::strtoull(data.c_str(), &parsedEnd, 0);
        if (data.empty() || *parsedEnd != 0 || value > 0xFFFFFFFFull) {
            Malformed(entry, length, "the dword data is not a 32-bit number");
        }
        DWORD dword = static_cast<DWORD>(value);
        BYTE bytes[4] = {static_cast<BYTE>(dword), static_cast<BYTE>(dword >> 8),
                         static_cast<BYTE>(dword >> 16), static_cast<BYTE>(dword >> 24)};
        StoreValue(*key, valueName, REG_DWORD, bytes, sizeof bytes);
    } else if (type == "sz") {
        SimWString text = FromUtf8Bytes(data.data(), data.size());
        SimVector<BYTE> bytes;
        for (char16_t unit : text) {
            bytes.push_back(static_cast<BYTE>(unit & 0xFF));
            bytes.push_back(static_cast<BYTE>(unit >> 8));
        }
        bytes.push_back(0);
        bytes.push_back(0);
        StoreValue(*key, valueName, REG_SZ, bytes.data(), bytes.size());
    } else {
        Malformed(entry, length, "the type must be dword or sz");
    }
}

struct EnvironmentSeed {
    EnvironmentSeed() {
        const char* seed = std::getenv("WINSIM_SEED");
        if (seed == nullptr) {
            return;
        }
        const char* entry = seed;
        while (*entry != 0) {
            const char* separator = std::strchr(entry, ';');
            size_t length =
                separator != nullptr ? static_cast<size_t>(separator - entry) : std::strlen(entry);
            if (length > 0) {
                SeedEntry(entry, length);
            }
            entry += length;
            if (*entry == ';') {
                ++entry;
            }
        }
    }
} environmentSeed;

} // namespace
