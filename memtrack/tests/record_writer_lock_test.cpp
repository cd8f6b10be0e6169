// The record writer lock: records written from several threads at once keep their three parts together
// (the same order in the raw record file, the text log file and on the debugger), one pair of files is
// created, and the owner of the lock may write records while it holds it.
#include "leak_log_test_support.h"

#include "memtrack/debug_text.h"

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

namespace {

using leak_log_test::LeakLogFixture;
using leak_log_test::readHostFile;
using leak_log_test::readHostText;

// The ids of the text records in a text, in order.
std::vector<uint32_t> lineIds(const std::string& text) {
    std::vector<uint32_t> ids;
    std::regex record(
        R"re(MemoryLeak module="vracoins\.dll" id="(\d+)" size="\d+" release="0" function="" )re"
        R"re(file="" line="0" overrun="0" underrun="0"\r\n)re");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), record); it != std::sregex_iterator();
         ++it) {
        ids.push_back(static_cast<uint32_t>(std::stoul((*it)[1].str())));
    }
    return ids;
}

std::vector<uint32_t> rawIds(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> ids;
    for (size_t at = 0; at + 504 <= bytes.size(); at += 504) {
        uint32_t id = 0;
        std::memcpy(&id, bytes.data() + at + 24, sizeof id);
        ids.push_back(id);
    }
    return ids;
}

class RecordWriterLock : public LeakLogFixture {};

TEST_F(RecordWriterLock, ConcurrentRecordsKeepTheirPartsTogether) {
    constexpr uint32_t perThread = 500;
    std::vector<OVMemHdr*> first, second;
    for (uint32_t i = 0; i < perThread; ++i) {
        first.push_back(makeHeader(1 + i, 10));
        second.push_back(makeHeader(1001 + i, 20));
    }
    std::atomic<bool> go{false};
    auto writer = [&go](const std::vector<OVMemHdr*>& headers) {
        while (!go.load()) {
        }
        for (OVMemHdr* header : headers) {
            writeBlockRecord(header, MemoryLeakRecord);
        }
    };
    std::thread a(writer, std::cref(first));
    std::thread b(writer, std::cref(second));
    go = true;
    a.join();
    b.join();

    std::vector<std::string> names = filesIn("Temp");
    ASSERT_EQ(2u, names.size()) << "two threads must create one pair of files between them";
    std::vector<uint32_t> raw = rawIds(readHostFile(hostPath("Temp", names[0])));
    std::string text = readHostText(hostPath("Temp", names[1]));
    std::vector<uint32_t> written = lineIds(text);
    std::vector<uint32_t> shown = lineIds(winsim::DebugOutput());
    EXPECT_EQ(2 * perThread, raw.size()) << "raw records";
    EXPECT_EQ(2 * perThread, written.size()) << "whole text records";
    std::string whole = "\r\n******* Leak Report *******\r\n";
    for (uint32_t id : written) {
        whole += "MemoryLeak module=\"vracoins.dll\" id=\"" + std::to_string(id) + "\" size=\"" +
                 (id > 1000 ? "20" : "10") +
                 "\" release=\"0\" function=\"\" file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n";
    }
    EXPECT_EQ(whole, text) << "the text log file holds more than the banner and whole records";
    EXPECT_EQ(raw, written)
        << "the raw record file and the text log file list the records in different orders";
    EXPECT_EQ(raw, shown) << "the debugger shows the records in another order than the files";
}

TEST_F(RecordWriterLock, AnotherThreadWaitsWhileTheLockIsHeld) {
    OVMemHdr* header = makeHeader(5, 10);
    std::thread writer;
    {
        RecordWriterLockHolder lock;
        writer = std::thread([header] { writeBlockRecord(header, MemoryLeakRecord); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ("", winsim::DebugOutput()) << "a record was written while another thread held the lock";
        EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    }
    writer.join();
    EXPECT_EQ(std::vector<uint32_t>{5}, lineIds(winsim::DebugOutput()));
}

TEST_F(RecordWriterLock, TheOwnerWritesRecordsWhileHoldingIt) {
    RecordWriterLockHolder lock;
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    char* line = formatBlockRecord(moduleNameForAddress(leak_log_test::libraryCode()), makeHeader(2, 20),
                                   MemoryLeakRecord);
    ASSERT_NE(nullptr, line);
    writeDebugText(line, static_cast<DWORD>(std::strlen(line)));
    free(line);
    closeLogFiles();
    EXPECT_EQ((std::vector<uint32_t>{1, 2}), lineIds(winsim::DebugOutput()));
}

TEST_F(RecordWriterLock, RetiredLockIsDeletedAndSetUpAgainByTheNextWriter) {
    { RecordWriterLockHolder lock; }
    size_t initialised = winsim::InitialisedCriticalSectionCount();
    recordWriterLock.retire();
    EXPECT_EQ(initialised - 1, winsim::InitialisedCriticalSectionCount())
        << "the retired lock was not deleted";
    recordWriterLock.retire(); // a second retirement finds nothing to delete
    EXPECT_EQ(initialised - 1, winsim::InitialisedCriticalSectionCount());
    writeBlockRecord(makeHeader(3, 10), MemoryLeakRecord);
    closeLogFiles();
    EXPECT_EQ(std::vector<uint32_t>{3}, lineIds(winsim::DebugOutput())) << "no record after the retirement";
    EXPECT_EQ(initialised, winsim::InitialisedCriticalSectionCount()) << "the writer did not set the lock up";
}

TEST_F(RecordWriterLock, RetiredWhileHeldIsDeletedByTheOutermostLeave) {
    { RecordWriterLockHolder lock; }
    size_t initialised = winsim::InitialisedCriticalSectionCount();
    {
        RecordWriterLockHolder outer;
        {
            RecordWriterLockHolder inner;
            recordWriterLock.retire();
        }
        EXPECT_EQ(initialised, winsim::InitialisedCriticalSectionCount())
            << "the lock was deleted while its owner still held it";
    }
    EXPECT_EQ(initialised - 1, winsim::InitialisedCriticalSectionCount())
        << "the outermost leave did not delete the retired lock";
}

} // namespace
