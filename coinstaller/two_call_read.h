// The two-call size protocol of the spooler, SetupAPI and the registry, written once: a first call without
// a buffer reports the size it needs, and a second reads into a block of that size. Where the block comes
// from is the storage parameter; the block is released with the reader.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <new>

// The status of a spooler or SetupAPI call, 0 for success. A successful call does not reliably reset the
// thread's last error (Wine leaves it as it was), so success counts as 0 here, whatever GetLastError says.
// A failed call that leaves no error behind still counts as failed, or a caller that repeats a call until
// it succeeds could repeat it forever.
inline DWORD StatusOf(BOOL succeeded) {
    if (succeeded) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// Spooler records: GlobalAlloc(GPTR), which zero-fills, released with GlobalFree.
struct SpoolerRecordStorage {
    static BYTE* Allocate(size_t bytes) { return static_cast<BYTE*>(GlobalAlloc(GPTR, bytes)); }
    static void Release(BYTE* block) { GlobalFree(block); }
};

// The module's own allocation, zero-filled. The nothrow form says in its signature what the module's
// operator new does anyway: it answers failure with null, and the reader tests for null before anything
// touches the block.
struct ModuleStorage {
    static BYTE* Allocate(size_t bytes) { return new (std::nothrow) BYTE[bytes](); }
    static void Release(BYTE* block) { delete[] block; }
};

// A probe is judged by the size it reported alone: its call fails by design, having no buffer.
inline auto SizeAtLeast(DWORD smallest) {
    return [smallest](DWORD, DWORD size) { return size >= smallest; };
}

template <typename Storage> class TwoCallRead {
  public:
    TwoCallRead() = default;
    ~TwoCallRead() { Release(); }
    TwoCallRead(const TwoCallRead&) = delete;
    TwoCallRead& operator=(const TwoCallRead&) = delete;

    // `call(buffer, size, reported)` makes the one platform call and returns its status (0 for success);
    // with a null buffer and size 0 it is the probe. `sizeAccepted(status, size)` judges the probe: without
    // its approval no block is obtained. The block holds `bytesPerUnit` bytes for each unit of the probed
    // size, and the read is offered the probed size. True when the read call succeeded; how much it
    // reported is Reported(), and whether that is acceptable is the caller's to judge.
    template <typename Call, typename SizeAccepted>
    bool Read(Call call, SizeAccepted sizeAccepted, size_t bytesPerUnit = 1) {
        Release();
        probed = 0;
        reported = 0;
        status = call(nullptr, 0, &probed);
        if (!sizeAccepted(status, probed)) {
            return false;
        }
        blockBytes = static_cast<size_t>(probed) * bytesPerUnit;
        block = Storage::Allocate(blockBytes);
        if (block == nullptr) {
            blockBytes = 0;
            status = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        status = call(block, probed, &reported);
        return status == ERROR_SUCCESS;
    }

    // Gives the block back now, before the reader goes (also when it was never obtained).
    void Release() {
        if (block != nullptr) {
            Storage::Release(block);
            block = nullptr;
            blockBytes = 0;
        }
    }

    template <typename Record> const Record* As() const { return reinterpret_cast<const Record*>(block); }
    size_t BlockBytes() const { return blockBytes; }
    // The status of the last call made, ERROR_NOT_ENOUGH_MEMORY when the block could not be had.
    DWORD Status() const { return status; }
    DWORD Probed() const { return probed; }
    DWORD Reported() const { return reported; }

  private:
    BYTE* block = nullptr;
    size_t blockBytes = 0;
    DWORD status = ERROR_SUCCESS;
    DWORD probed = 0;
    DWORD reported = 0;
};
