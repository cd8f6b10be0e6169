// The two-call read on its own, against a scripted platform call: when it asks for a block, how large, what
// the read is offered, which status it reports, and that the block goes back; and how a call's status is
// judged.
#include "coinstaller/two_call_read.h"
#include "coinstaller_test_support.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace coinstaller_test;

namespace {

// Storage that can refuse, and that counts what it hands out and gets back.
struct CountingStorage {
    static bool refuse;
    static size_t allocated;
    static size_t released;
    static size_t lastBytes;
    static BYTE* Allocate(size_t bytes) {
        lastBytes = bytes;
        if (refuse) {
            return nullptr;
        }
        ++allocated;
        // Filled with a pattern: what the read finds in the block is what the storage left there.
        BYTE* block = static_cast<BYTE*>(std::malloc(bytes));
        std::memset(block, 0xAB, bytes);
        return block;
    }
    static void Release(BYTE* block) {
        ++released;
        std::free(block);
    }
};
bool CountingStorage::refuse = false;
size_t CountingStorage::allocated = 0;
size_t CountingStorage::released = 0;
size_t CountingStorage::lastBytes = 0;

// One platform call as the scripted platform answers it: the probe reports `probeSize` with `probeStatus`;
// the read reports `readSize` with `readStatus` and writes `readSize` bytes of 0x11 (at most the size it
// was offered).
struct Script {
    DWORD probeStatus;
    DWORD probeSize;
    DWORD readStatus;
    DWORD readSize;
};

struct Calls {
    std::vector<DWORD> offered; // the size offered by each call, in order
    std::vector<bool> withBuffer;
};

TEST(TwoCallReadTest, EachStepAnswersAsItsRowSays) {
    const DWORD noBuffer = ERROR_INSUFFICIENT_BUFFER;
    const struct {
        const char* what;
        Script script;
        DWORD smallest;
        bool refuse;
        size_t bytesPerUnit;
        bool expectedResult;
        size_t expectedCalls;
        DWORD expectedStatus;
        size_t expectedBlockBytes;
    } rows[] = {
        {"a probe reporting no size", {noBuffer, 0, 0, 0}, 1, false, 1, false, 1, noBuffer, 0},
        {"a size below the smallest", {noBuffer, 7, 0, 7}, 8, false, 1, false, 1, noBuffer, 0},
        {"a probe that succeeds", {ERROR_SUCCESS, 0, 0, 0}, 1, false, 1, false, 1, ERROR_SUCCESS, 0},
        {"no block to be had", {noBuffer, 12, 0, 12}, 1, true, 1, false, 1, ERROR_NOT_ENOUGH_MEMORY, 0},
        {"a failed read",
         {noBuffer, 12, ERROR_ACCESS_DENIED, 12},
         1,
         false,
         1,
         false,
         2,
         ERROR_ACCESS_DENIED,
         12},
        {"a read", {noBuffer, 12, ERROR_SUCCESS, 12}, 1, false, 1, true, 2, ERROR_SUCCESS, 12},
        {"a read of shorter data", {noBuffer, 12, ERROR_SUCCESS, 5}, 1, false, 1, true, 2, ERROR_SUCCESS, 12},
        {"a read in characters", {noBuffer, 6, ERROR_SUCCESS, 6}, 1, false, 2, true, 2, ERROR_SUCCESS, 12},
    };
    for (const auto& row : rows) {
        CountingStorage::refuse = row.refuse;
        CountingStorage::allocated = 0;
        CountingStorage::released = 0;
        CountingStorage::lastBytes = 0;
        Calls calls;
        bool result = false;
        {
            TwoCallRead<CountingStorage> read;
            result = read.Read(
                [&](BYTE* buffer, DWORD size, DWORD* reported) {
                    calls.offered.push_back(size);
                    calls.withBuffer.push_back(buffer != nullptr);
                    if (buffer == nullptr) {
                        *reported = row.script.probeSize;
                        return row.script.probeStatus;
                    }
                    *reported = row.script.readSize;
                    std::memset(buffer, 0x11, row.script.readSize < size ? row.script.readSize : size);
                    return row.script.readStatus;
                },
                SizeAtLeast(row.smallest), row.bytesPerUnit);

            EXPECT_EQ(row.expectedResult, result) << row.what;
            EXPECT_EQ(row.expectedStatus, read.Status()) << row.what;
            EXPECT_EQ(row.script.probeSize, read.Probed()) << row.what;
            EXPECT_EQ(row.expectedBlockBytes, read.BlockBytes()) << row.what;
            ASSERT_EQ(row.expectedCalls, calls.offered.size()) << row.what;
            EXPECT_EQ(0u, calls.offered[0]) << row.what << ": the probe was offered a size";
            EXPECT_FALSE(calls.withBuffer[0]) << row.what << ": the probe was given a buffer";
            if (row.expectedCalls == 2) {
                EXPECT_TRUE(calls.withBuffer[1]) << row.what;
                EXPECT_EQ(row.script.probeSize, calls.offered[1]) << row.what << ": the read's size";
                EXPECT_EQ(row.script.readSize, read.Reported()) << row.what;
                // The block spans the probed units; what the read did not write is as the storage left it.
                const BYTE* block = read.As<BYTE>();
                size_t written = row.script.readSize;
                for (size_t i = 0; i < read.BlockBytes(); ++i) {
                    EXPECT_EQ(i < written ? 0x11 : 0xAB, block[i]) << row.what << ", byte " << i;
                }
            } else {
                EXPECT_EQ(nullptr, read.As<BYTE>()) << row.what << ": a block without a read";
            }
            if (row.refuse) {
                EXPECT_EQ(row.script.probeSize * row.bytesPerUnit, CountingStorage::lastBytes) << row.what;
            }
        }
        EXPECT_EQ(CountingStorage::allocated, CountingStorage::released) << row.what << ": a block stayed";
    }
    CountingStorage::refuse = false;
}

TEST(TwoCallReadTest, ReleaseGivesTheBlockBackOnceAndAnotherReadStartsAfresh) {
    CountingStorage::refuse = false;
    CountingStorage::allocated = 0;
    CountingStorage::released = 0;
    TwoCallRead<CountingStorage> read;
    auto call = [](BYTE*, DWORD, DWORD* reported) {
        *reported = 4;
        return static_cast<DWORD>(ERROR_SUCCESS);
    };
    auto anySize = [](DWORD, DWORD) { return true; };
    EXPECT_TRUE(read.Read(call, anySize));
    EXPECT_TRUE(read.Read(call, anySize));
    EXPECT_EQ(2u, CountingStorage::allocated);
    EXPECT_EQ(1u, CountingStorage::released) << "the first block was not given back by the second read";
    read.Release();
    read.Release();
    EXPECT_EQ(2u, CountingStorage::released);
    EXPECT_EQ(nullptr, read.As<BYTE>());
    EXPECT_EQ(0u, read.BlockBytes());
}

// The SetupAPI and registry reads count on it: a block holds a NUL after whatever the read left short.
// Each round dirties its block before giving it back, so that a storage that did not clear the next one
// would show the pattern.
TEST(TwoCallReadTest, TheModulesStorageHandsOutZeroedBlocks) {
    for (int round = 0; round < 4; ++round) {
        BYTE* block = ModuleStorage::Allocate(64);
        ASSERT_NE(nullptr, block);
        for (size_t i = 0; i < 64; ++i) {
            EXPECT_EQ(0, block[i]) << "round " << round << ", byte " << i;
        }
        std::memset(block, 0xAB, 64);
        ModuleStorage::Release(block);
    }
}

class StatusOfTest : public SimulatedWindowsTest {};

TEST_F(StatusOfTest, SuccessIsZeroAndAFailureNeverIs) {
    const struct {
        BOOL succeeded;
        DWORD lastError;
        DWORD expected;
    } rows[] = {{TRUE, ERROR_SUCCESS, ERROR_SUCCESS},
                {TRUE, ERROR_INSUFFICIENT_BUFFER, ERROR_SUCCESS},
                {FALSE, ERROR_INSUFFICIENT_BUFFER, ERROR_INSUFFICIENT_BUFFER},
                {FALSE, ERROR_SUCCESS, ERROR_GEN_FAILURE}};
    for (const auto& row : rows) {
        SetLastError(row.lastError);
        EXPECT_EQ(row.expected, StatusOf(row.succeeded))
            << "succeeded " << row.succeeded << ", last error " << row.lastError;
    }
}

} // namespace
