// The text records: the three formats, the values that fill them and the texts the formatter gives for
// missing input.
#include "leak_log_test_support.h"

#include "memtrack/symbols.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using leak_log_test::LeakLogFixture;

// A leak record's line as the tracker writes it for an undamaged block from vracoins.dll without symbols.
std::string formatted(const char* modulePath, const OVMemHdr* header, RecordType type) {
    char* line = formatBlockRecord(modulePath, header, type);
    EXPECT_NE(nullptr, line) << "the formatter gave no text";
    std::string text = line != nullptr ? line : "";
    free(line);
    return text;
}

std::string hex32(const void* address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

class RecordFormat : public LeakLogFixture {};

TEST_F(RecordFormat, LeakOfAnUndamaged24ByteBlockWithId7WithoutSymbols) {
    OVMemHdr* header = makeHeader(7, 24);
    EXPECT_EQ("MemoryLeak module=\"vracoins.dll\" id=\"7\" size=\"24\" release=\"0\" function=\"\" file=\"\" "
              "line=\"0\" overrun=\"0\" underrun=\"0\"\r\n",
              formatted("C:\\Program Files\\Orvale\\vracoins.dll", header, MemoryLeakRecord));
}

TEST_F(RecordFormat, LeakRecordCarriesTheReleaseFlagAndTheDamageFlags) {
    OVMemHdr* header = makeHeader(12, 10);
    header->release = 1;
    header->overrun = 1;
    EXPECT_EQ(
        "MemoryLeak module=\"vracoins.dll\" id=\"12\" size=\"10\" release=\"1\" function=\"\" file=\"\" "
        "line=\"0\" overrun=\"1\" underrun=\"0\"\r\n",
        formatted("C:\\Program Files\\Orvale\\vracoins.dll", header, MemoryLeakRecord));
}

TEST_F(RecordFormat, AnyOtherTypeIsWrittenAsALeak) {
    OVMemHdr* header = makeHeader(3, 5);
    std::string line = formatted("C:\\m\\vracoins.dll", header, static_cast<RecordType>(3));
    EXPECT_EQ(0u, line.rfind("MemoryLeak module=\"vracoins.dll\" id=\"3\"", 0)) << "got: " << line;
    line = formatted("C:\\m\\vracoins.dll", header, static_cast<RecordType>(-1));
    EXPECT_EQ(0u, line.rfind("MemoryLeak ", 0)) << "got: " << line;
}

TEST_F(RecordFormat, AccessViolationShowsTheLow32BitsOfBothAddresses) {
    OVMemHdr* header = makeHeader(9, 10);
    header->allocPtr = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1F2A3B4C5D0ull));
    header->overrun = 1;
    header->underrun = 1;
    EXPECT_EQ("MemoryAccessViolation allocPtr=\"0xA3B4C5D0\" memHdrPtr=\"" + hex32(header) +
                  "\" module=\"vracoins.dll\" id=\"9\" size=\"10\" function=\"\" file=\"\" line=\"0\" "
                  "overrun=\"1\" underrun=\"1\"\r\n",
              formatted("C:\\m\\vracoins.dll", header, MemoryAccessViolationRecord));
}

TEST_F(RecordFormat, InUseRecordHasTheAddressesButNoReleaseFlag) {
    OVMemHdr* header = makeHeader(4, 30);
    header->release = 1;
    EXPECT_EQ("MemoryInUse allocPtr=\"" + hex32(header->allocPtr) + "\" memHdrPtr=\"" + hex32(header) +
                  "\" module=\"vracoins.dll\" id=\"4\" size=\"30\" function=\"\" file=\"\" line=\"0\" "
                  "overrun=\"0\" underrun=\"0\"\r\n",
              formatted("C:\\m\\vracoins.dll", header, MemoryInUseRecord));
}

TEST_F(RecordFormat, IdAndSizePrintAsSigned32BitNumbers) {
    OVMemHdr* header = makeHeader(0xFFFFFFFFu, 2147483648ull);
    std::string line = formatted("C:\\m\\vracoins.dll", header, MemoryLeakRecord);
    EXPECT_NE(std::string::npos, line.find(" id=\"-1\" size=\"-2147483648\" ")) << "got: " << line;
    header->size = 0x100000018ull;
    line = formatted("C:\\m\\vracoins.dll", header, MemoryLeakRecord);
    EXPECT_NE(std::string::npos, line.find(" size=\"24\" ")) << "only the low 32 bits count, got: " << line;
}

TEST_F(RecordFormat, MissingModulePathOrHeaderGivesAnEmptyText) {
    OVMemHdr* header = makeHeader(1, 1);
    EXPECT_EQ("", formatted(nullptr, header, MemoryLeakRecord));
    EXPECT_EQ("", formatted("C:\\m\\vracoins.dll", nullptr, MemoryLeakRecord));
}

TEST_F(RecordFormat, ModulePathWithoutBackslashIsPrintedWhole) {
    OVMemHdr* header = makeHeader(1, 1);
    std::string line = formatted("vracoins.dll", header, MemoryInUseRecord);
    EXPECT_NE(std::string::npos, line.find(" module=\"vracoins.dll\" ")) << "got: " << line;
}

TEST_F(RecordFormat, AModuleNameThatCannotBePrintedGivesNoText) {
    // Only a path that no module can have (the cache holds at most 259 characters) overflows the line.
    std::string huge(1100, 'n');
    EXPECT_EQ(nullptr, formatBlockRecord(huge.c_str(), makeHeader(1, 1), MemoryLeakRecord));
}

TEST_F(RecordFormat, TheLongestLineOfTheCacheStillFits) {
    std::string path = "C:\\" + std::string(256, 'n');
    ASSERT_EQ(259u, path.size());
    char* line =
        formatBlockRecord(path.c_str(), makeHeader(0x80000000u, 0x80000000ull), MemoryAccessViolationRecord);
    ASSERT_NE(nullptr, line) << "a 256-character module name must fit the record";
    EXPECT_NE(nullptr, std::strstr(line, std::string(256, 'n').c_str()));
    free(line);
}

} // namespace

// A call site with a name that the symbol handler finds.
extern "C" int leakLogProbeCallSite() {
    return 1;
}

namespace {

TEST_F(RecordFormat, PrintsWhatTheSymbolResolverFinds) {
    CDbgHelp* resolver = new CDbgHelp();
    ASSERT_NE(nullptr, resolver);
    ASSERT_TRUE(resolver->initialize()) << "the symbol handler could not be set up";
    symbolResolver = resolver;
    OVMemHdr* header = makeHeader(5, 8);
    // A return address lies past the call, inside the calling function: its first byte plus one.
    header->caller = reinterpret_cast<unsigned char*>(&leakLogProbeCallSite) + 1;
    std::string line = formatted("C:\\m\\vracoins.dll", header, MemoryLeakRecord);
    symbolResolver = nullptr;
    delete resolver;
    EXPECT_NE(std::string::npos, line.find(" function=\"leakLogProbeCallSite\" ")) << "got: " << line;
}

} // namespace
