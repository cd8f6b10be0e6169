// docs/REGISTRY.md against the module: every registry value that the module reads, writes or deletes
// while it installs a USB printer with its companion, renames the queue and tracks its allocations in
// every mode is a row of the document, with the operations and types the module uses, and every row is
// touched. The comparison itself is checked on made-up rows and accesses first, so that a silent checker
// cannot pass for an accurate document.
#include "document_comparison.h"
#include "registry_table.h"
#include "value_access_scenarios.h"

#include <gtest/gtest.h>

namespace registry_doc {
namespace {

const std::string documentPath = std::string(VRACOINS_SOURCE_DIR) + "/docs/REGISTRY.md";

std::vector<DocumentedValue> DocumentRows() {
    std::vector<std::string> errors;
    std::vector<DocumentedValue> rows = ParseRegistryTables(ReadTextFile(documentPath), &errors);
    EXPECT_TRUE(errors.empty()) << documentPath << " has rows that cannot be read:" << Bulleted(errors);
    return rows;
}

std::vector<ObservedAccess> EveryScenario() {
    std::vector<ObservedAccess> accesses = RunInstallScenarios();
    std::vector<ObservedAccess> tracking = RunTrackerScenarios();
    accesses.insert(accesses.end(), tracking.begin(), tracking.end());
    return accesses;
}

TEST(RegistryDocument, TablesAreReadableWithOneRowPerValue) {
    std::vector<DocumentedValue> rows = DocumentRows();
    ASSERT_FALSE(rows.empty()) << "no table with the columns Root | Key | Value | Type | DLL in "
                               << documentPath;
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t j = i + 1; j < rows.size(); ++j) {
            bool sameValue =
                rows[i].root == rows[j].root && rows[i].key == rows[j].key && rows[i].name == rows[j].name;
            EXPECT_FALSE(sameValue) << rows[i].Label() << " is listed on lines " << rows[i].line << " and "
                                    << rows[j].line;
        }
    }
}

TEST(RegistryDocument, ListsEveryValueTheModuleTouches) {
    Discrepancies found = Compare(DocumentRows(), EveryScenario());
    EXPECT_TRUE(found.undocumented.empty())
        << documentPath << " lacks what the module does:" << Bulleted(found.undocumented);
}

TEST(RegistryDocument, ListsOnlyValuesTheModuleTouches) {
    Discrepancies found = Compare(DocumentRows(), EveryScenario());
    EXPECT_TRUE(found.untouched.empty())
        << documentPath << " lists what the module never does:" << Bulleted(found.untouched);
}

TEST(RegistryDocument, GivesTheTypesTheModuleWritesAndReads) {
    Discrepancies found = Compare(DocumentRows(), EveryScenario());
    EXPECT_TRUE(found.types.empty()) << documentPath
                                     << " disagrees with the module on types:" << Bulleted(found.types);
}

// --- The comparison on made-up rows --------------------------------------------------------------------

DocumentedValue Row(const std::string& key, const std::string& name, std::vector<DWORD> types,
                    std::set<Operation> operations) {
    DocumentedValue row;
    row.line = 1;
    row.root = "HKLM";
    row.key = key;
    row.name = name;
    row.types = types;
    row.operations = operations;
    return row;
}

ObservedAccess Access(const std::string& keyPath, const std::string& name, Operation operation, DWORD type) {
    ObservedAccess access;
    access.root = "HKLM";
    access.keyPath = keyPath;
    access.name = name;
    access.operation = operation;
    access.type = type;
    access.existed = true;
    access.scenario = "made up";
    return access;
}

TEST(DocumentComparison, NamesAnAccessThatNoRowLists) {
    std::vector<DocumentedValue> rows = {Row("Software\\A", "One", {REG_SZ}, {winsim::ValueAccess::Read})};
    Discrepancies found = Compare(rows, {Access("Software\\A", "One", winsim::ValueAccess::Read, REG_SZ),
                                         Access("Software\\A", "Two", winsim::ValueAccess::Read, REG_SZ)});
    ASSERT_EQ(1u, found.undocumented.size()) << Bulleted(found.undocumented);
    EXPECT_NE(std::string::npos, found.undocumented[0].find("HKLM\\Software\\A\\Two"))
        << found.undocumented[0];
    EXPECT_TRUE(found.untouched.empty()) << Bulleted(found.untouched);
}

TEST(DocumentComparison, NamesARowAndAnOperationThatNothingTouched) {
    std::vector<DocumentedValue> rows = {
        Row("Software\\A", "One", {REG_DWORD}, {winsim::ValueAccess::Read, winsim::ValueAccess::Delete}),
        Row("Software\\B", "Two", {REG_DWORD}, {winsim::ValueAccess::Read})};
    Discrepancies found = Compare(rows, {Access("Software\\A", "One", winsim::ValueAccess::Read, REG_DWORD)});
    ASSERT_EQ(2u, found.untouched.size()) << Bulleted(found.untouched);
    EXPECT_NE(std::string::npos, found.untouched[0].find("\"delete\"")) << found.untouched[0];
    EXPECT_NE(std::string::npos, found.untouched[1].find("HKLM\\Software\\B\\Two")) << found.untouched[1];
}

TEST(DocumentComparison, PlaceholdersStandForAnyTextAndLetterCaseDoesNotCount) {
    std::vector<DocumentedValue> rows = {Row("System\\Enum\\<instance id>\\Device Parameters", "PortName",
                                             {REG_SZ}, {winsim::ValueAccess::Read})};
    Discrepancies found = Compare(
        rows, {Access("SYSTEM\\Enum\\USBPRINT\\X\\7&1\\Device Parameters", "portname",
                      winsim::ValueAccess::Read, REG_SZ),
               Access("SYSTEM\\Enum\\Device Parameters", "PortName", winsim::ValueAccess::Read, REG_SZ)});
    ASSERT_EQ(1u, found.undocumented.size())
        << "the placeholder must stand for some text, not for none:" << Bulleted(found.undocumented);
    EXPECT_TRUE(found.untouched.empty()) << Bulleted(found.untouched);
}

TEST(DocumentComparison, WrittenTypeMustBeTheFirstAndEveryTypeMustAppear) {
    std::vector<DocumentedValue> rows = {
        Row("Software\\A", "One", {REG_SZ, REG_EXPAND_SZ}, {winsim::ValueAccess::Write}),
        Row("Software\\A", "Two", {REG_SZ, REG_EXPAND_SZ}, {winsim::ValueAccess::Read})};
    Discrepancies found =
        Compare(rows, {Access("Software\\A", "One", winsim::ValueAccess::Write, REG_EXPAND_SZ),
                       Access("Software\\A", "Two", winsim::ValueAccess::Read, REG_SZ)});
    // One written as the second type, One never as REG_SZ, Two never found as REG_EXPAND_SZ.
    EXPECT_EQ(3u, found.types.size()) << Bulleted(found.types);
}

TEST(DocumentComparison, AbsentValuesCountForTheOperationButNotForTheType) {
    std::vector<DocumentedValue> rows = {Row("Software\\A", "One", {REG_DWORD}, {winsim::ValueAccess::Read})};
    ObservedAccess absent = Access("Software\\A", "One", winsim::ValueAccess::Read, 0);
    absent.existed = false;
    Discrepancies found = Compare(rows, {absent});
    EXPECT_TRUE(found.untouched.empty()) << Bulleted(found.untouched);
    EXPECT_EQ(1u, found.types.size()) << "REG_DWORD was never found:" << Bulleted(found.types);
}

TEST(DocumentTables, RowsThatCannotBeReadAreNamedWithTheirLine) {
    std::vector<std::string> errors;
    std::vector<DocumentedValue> rows = ParseRegistryTables("| Root | Key | Value | Type | DLL | Notes |\n"
                                                            "|---|---|---|---|---|---|\n"
                                                            "| HKLM | `K` | `A` | REG_SZ | read | fine |\n"
                                                            "| HKCR | `K` | `B` | REG_SZ | read | root |\n"
                                                            "| HKLM | `K` | `C` | text | read | type |\n"
                                                            "| HKLM | `K` | `D` | REG_SZ | reads | verb |\n"
                                                            "\n"
                                                            "| Other | table |\n"
                                                            "|---|---|\n"
                                                            "| HKLM | ignored |\n",
                                                            &errors);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("HKLM\\K\\A", rows[0].Label());
    ASSERT_EQ(3u, errors.size()) << Bulleted(errors);
    EXPECT_EQ(0u, errors[0].find("line 4: ")) << errors[0];
    EXPECT_EQ(0u, errors[2].find("line 6: ")) << errors[2];
}

} // namespace
} // namespace registry_doc
