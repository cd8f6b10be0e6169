// The tracked-block header. It lies right before every tracked user block, and the raw record file
// stores it byte for byte, so its layout is a file format: 504 bytes, little-endian, 64-bit pointers.
// Padding is spelled out so that every offset is fixed by the fields themselves and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the head guard, which is the header's tail, and the least size of a tail guard.
constexpr uint64_t guardZoneSize = 384;
// Fill of both guard zones: a byte that a stray write rarely reproduces.
constexpr uint8_t guardFill = 0xD0;
constexpr uint8_t headerMagic = 0xAA;
// User blocks start on this boundary, the alignment that operator new promises on 64-bit Windows.
constexpr uint64_t userBlockAlignment = 16;

// The allocation kind: the form of new that made a block, and the form of delete that must release it.
enum AllocKind : int32_t {
    AllocKindScalar = 0, // new, delete
    AllocKindArray = 1,  // new[], delete[]
};

// Where a block's underlying allocation came from, and so how it is freed.
enum BlockSource : int32_t {
    BlockSourceTrackHeap = 0,    // HeapAlloc on trackHeap
    BlockSourceRuntimeHeap = 1,  // malloc
    BlockSourceVirtualPages = 2, // VirtualAlloc
};

struct OVMemHdr {
    uint8_t magic; // headerMagic, tested by nothing
    uint8_t padding1[7];
    OVMemHdr* prev; // live list neighbours
    OVMemHdr* next;
    uint32_t id; // 1 for the module's first block
    uint8_t padding2[4];
    uint64_t size;     // as requested
    int32_t allocKind; // AllocKind
    uint8_t padding3[4];
    void* caller; // code address just after the call of the allocation operator
    uint64_t reserved;
    uint8_t release; // 1 once released after the collector's teardown
    uint8_t padding4[7];
    void* userPtr;    // this header + 504, a multiple of 16
    void* allocPtr;   // base of the underlying allocation
    int32_t source;   // BlockSource
    uint8_t underrun; // 1 once a changed head-guard byte was found
    uint8_t overrun;  // 1 once a changed tail-guard byte was found
    uint8_t padding5[2];
    uint64_t tailGuardSize; // 384 + alignment slack in the guarded modes, else 0
    uint8_t* tailGuard;     // userPtr + size in the guarded modes, else null
    uint64_t headGuardSize; // always 384
    uint8_t headGuard[guardZoneSize];
};

static_assert(sizeof(void*) == 8, "the header format has 64-bit pointer fields");
static_assert(sizeof(OVMemHdr) == 504, "the header is 504 bytes in the raw record file");
static_assert(offsetof(OVMemHdr, magic) == 0, "header layout");
static_assert(offsetof(OVMemHdr, prev) == 8, "header layout");
static_assert(offsetof(OVMemHdr, next) == 16, "header layout");
static_assert(offsetof(OVMemHdr, id) == 24, "header layout");
static_assert(offsetof(OVMemHdr, size) == 32, "header layout");
static_assert(offsetof(OVMemHdr, allocKind) == 40, "header layout");
static_assert(offsetof(OVMemHdr, caller) == 48, "header layout");
static_assert(offsetof(OVMemHdr, reserved) == 56, "header layout");
static_assert(offsetof(OVMemHdr, release) == 64, "header layout");
static_assert(offsetof(OVMemHdr, userPtr) == 72, "header layout");
static_assert(offsetof(OVMemHdr, allocPtr) == 80, "header layout");
static_assert(offsetof(OVMemHdr, source) == 88, "header layout");
static_assert(offsetof(OVMemHdr, underrun) == 92, "header layout");
static_assert(offsetof(OVMemHdr, overrun) == 93, "header layout");
static_assert(offsetof(OVMemHdr, tailGuardSize) == 96, "header layout");
static_assert(offsetof(OVMemHdr, tailGuard) == 104, "header layout");
static_assert(offsetof(OVMemHdr, headGuardSize) == 112, "header layout");
static_assert(offsetof(OVMemHdr, headGuard) == 120, "header layout");
static_assert(offsetof(OVMemHdr, headGuard) + guardZoneSize == sizeof(OVMemHdr),
              "the head guard is the last 384 bytes of the header");

constexpr uint64_t headerSize = sizeof(OVMemHdr);
