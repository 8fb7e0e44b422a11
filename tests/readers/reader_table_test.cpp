#include <gtest/gtest.h>

#include <algorithm>

#include "frame/handles.h"
#include "readers/reader_table.h"
#include "support/session.h"

namespace {

using namespace kvca::test;

const std::wstring kCards = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
const std::wstring kCarriers = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion\\";

// A package with two components: Readers goes to the local machine, Spare
// belongs to a feature that is not installed.
class RegReadersTest : public SessionTest {
 protected:
  void SetUp() override {
    Sql(L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
        L"`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
    Sql(L"INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES ('TARGETDIR', 'SourceDir')");
    Sql(L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
        L"`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
        L"`KeyPath` CHAR(72) PRIMARY KEY `Component`)");
    Sql(L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
        L"`Title` CHAR(64), `Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, "
        L"`Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)");
    Sql(L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, "
        L"`Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)");
    Sql(L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, "
        L"`Key` CHAR(255) NOT NULL, `Name` CHAR(255), `Value` LONGCHAR, "
        L"`Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)");
    AddComponent(L"Readers", L"{4C1E7A20-5B3D-4E6F-8A9B-0C1D2E3F4A51}", L"Main", 1);
    AddComponent(L"Spare", L"{4C1E7A20-5B3D-4E6F-8A9B-0C1D2E3F4A52}", L"Extra", 0);
  }

  void AddComponent(const std::wstring& name, const std::wstring& guid, const std::wstring& feature,
                    int level) {
    Sql(L"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`) VALUES ('" +
        name + L"', '" + guid + L"', 'TARGETDIR', 0)");
    Sql(L"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('" + feature + L"', " +
        std::to_wstring(level) + L", 0)");
    Sql(L"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('" + feature + L"', '" +
        name + L"')");
  }

  void OwnRegistryRow() {
    Sql(L"INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES "
        L"('Version', 2, 'SOFTWARE\\Korvex\\Cryptography\\CurrentVersion', 'Version', '1.0', 'Readers')");
  }

  void CreateRegReaders() {
    Sql(L"CREATE TABLE `RegReaders` (`Type` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, "
        L"`Parameter` CHAR(255) NOT NULL, `Value` LONGCHAR, `Component_` CHAR(72) NOT NULL, "
        L"`Condition` CHAR(255), `ListProperty` CHAR(72) "
        L"PRIMARY KEY `Type`, `Name`, `Parameter`, `Component_`)");
  }

  void Reader(const std::wstring& type, const std::wstring& name, const std::wstring& parameter,
              const std::wstring& value, const std::wstring& component, const std::wstring& condition,
              const std::wstring& list = L"") {
    Sql(L"INSERT INTO `RegReaders` (`Type`, `Name`, `Parameter`, `Value`, `Component_`, `Condition`, "
        L"`ListProperty`) VALUES ('" + type + L"', '" + name + L"', '" + parameter + L"', '" + value +
        L"', '" + component + L"', '" + condition + L"', '" + list + L"')");
  }

  // Opens the session with the component action states computed, then runs the action.
  UINT Run() {
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
      EXPECT_EQ(ERROR_SUCCESS, MsiDoActionW(Session(), action)) << action;
    captured_.clear();
    return ProcessRegReaders(Session());
  }

  // The rows of the session's Registry table, "identifier|root|key|name|value|component" each.
  std::vector<std::wstring> RegistryRows() {
    std::vector<std::wstring> rows;
    kvca::MsiHandle database(MsiGetActiveDatabase(Session()));
    kvca::MsiHandle view;
    EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM `Registry`", view.put()));
    EXPECT_EQ(ERROR_SUCCESS, MsiViewExecute(view.get(), 0));
    kvca::MsiHandle record;
    while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS) {
      std::wstring row;
      for (UINT field = 1; field <= 6; ++field) {
        wchar_t text[512] = {};
        DWORD size = 512;
        MsiRecordGetStringW(record.get(), field, text, &size);
        row += (field > 1 ? L"|" : L"") + std::wstring(text);
      }
      rows.push_back(row);
    }
    MsiViewClose(view.get());
    return rows;
  }
};

std::vector<std::wstring> Sorted(std::vector<std::wstring> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

std::wstring Row(const std::wstring& key, const std::wstring& name, const std::wstring& value,
                 const std::wstring& identifier) {
  return identifier + L"|2|" + key + L"|" + name + L"|" + value + L"|Readers";
}

TEST_F(RegReadersTest, ComposesOneRowPerValueOfEveryKindOfReader) {
  OwnRegistryRow();
  CreateRegReaders();
  Reader(L"WLSC", L"Korvex Card", L"ATR", L"#x3b0201", L"Readers", L"1");
  Reader(L"Media", L"Registry", L"-", L"Registry", L"Readers", L"VersionNT64");
  Reader(L"wlsc", L"Token", L"--", L"#5", L"Readers", L"1");
  Reader(L"Media", L"PCSC", L"Enabled", L"#1", L"Readers", L"PCSC", L"PCSCREADERS");
  Reader(L"Media", L"Floppy", L"Enabled", L"#1", L"Readers", L"REGFLOPPY");
  Reader(L"Media", L"Spare", L"Enabled", L"#1", L"Spare", L"1");
  PackageProperty(L"PCSC", L"1");
  PackageProperty(L"PCSCREADERS", L"First,,Last");

  EXPECT_EQ(0u, Run());
  const std::wstring card = kCards + L"Korvex Card", pcsc = kCarriers + L"Media\\PCSC\\";
  EXPECT_EQ(Sorted({L"Version|2|SOFTWARE\\Korvex\\Cryptography\\CurrentVersion|Version|1.0|Readers",
                    Row(card, L"ATR", L"#x3b0201", card + L"\\ATR_Readers"),
                    Row(kCarriers + L"Media\\Registry", L"", L"Registry", kCarriers + L"Media\\Registry\\"),
                    Row(kCarriers + L"wlsc\\Token", L"--", L"#5", kCarriers + L"wlsc\\Token\\--"),
                    Row(pcsc + L"First", L"Enabled", L"#1", pcsc + L"First\\Enabled"),
                    Row(pcsc, L"Enabled", L"#1", pcsc + L"\\Enabled"),
                    Row(pcsc + L"Last", L"Enabled", L"#1", pcsc + L"Last\\Enabled")}),
            Sorted(RegistryRows()));
  // Every row is logged before it is tested; skipped rows say nothing more.
  EXPECT_EQ(Sorted({L"WLSC;Korvex Card;ATR;#x3b0201;Readers;1;;",
                    L"Media;Registry;-;Registry;Readers;VersionNT64;;", L"wlsc;Token;--;#5;Readers;1;;",
                    L"Media;PCSC;Enabled;#1;Readers;PCSC;PCSCREADERS;",
                    L"Media;Floppy;Enabled;#1;Readers;REGFLOPPY;;", L"Media;Spare;Enabled;#1;Spare;1;;"}),
            Sorted(InfoTexts()));
  EXPECT_TRUE(Errors().empty());
}

TEST_F(RegReadersTest, ReportsBadConditionsAndRepeatedListItems) {
  OwnRegistryRow();
  CreateRegReaders();
  Reader(L"Media", L"Empty", L"Enabled", L"#1", L"Readers", L"");
  Reader(L"Media", L"Broken", L"Enabled", L"#1", L"Readers", L"((PCSC");
  Reader(L"Media", L"Twice", L"Enabled", L"#1", L"Readers", L"1", L"TWICE");
  PackageProperty(L"TWICE", L"Same,Same");

  // The result is the thread's last error after the failed row, which Wine's
  // installer calls leave at 0; it is not asserted.
  Run();
  const std::wstring same = kCarriers + L"Media\\Twice\\Same";
  EXPECT_EQ(Sorted({L"Version|2|SOFTWARE\\Korvex\\Cryptography\\CurrentVersion|Version|1.0|Readers",
                    Row(same, L"Enabled", L"#1", same + L"\\Enabled")}),
            Sorted(RegistryRows()));
  // Rows come in the database's order; the two records of the repeated item come together.
  std::vector<Message> conditions, writes;
  for (const Message& error : Errors())
    (error.Text(2) == L"ProcessRegReaders" ? conditions : writes).push_back(error);
  ASSERT_EQ(2u, conditions.size());
  for (const Message& error : conditions)
    EXPECT_TRUE(IsErrorRecord(error, L"ProcessRegReaders", L"Invalid Condition in RegReader Table", 13));
  ASSERT_EQ(2u, writes.size());
  const int insertFailure = writes[0].Integer(4);
  EXPECT_NE(0, insertFailure);
  EXPECT_TRUE(IsErrorRecord(writes[0], L"WriteToRegistryTable", L"WriteToRegistry()", insertFailure));
  EXPECT_TRUE(IsErrorRecord(writes[1], L"PrepareToWrite", L"PrepareToWrite() fail", insertFailure));
}

TEST_F(RegReadersTest, AbsentTableIsReported) {
  OwnRegistryRow();
  const UINT result = Run();
  ASSERT_EQ(1u, Errors().size());
  EXPECT_TRUE(IsErrorRecord(Errors()[0], L"ProcessRegReaders", L"ProcessRegReaders fail", result));
}

TEST_F(RegReadersTest, EmptyRegistryTableGetsNoRowsAndNoMessage) {
  CreateRegReaders();
  Reader(L"Media", L"PCSC", L"Enabled", L"#1", L"Readers", L"1");
  EXPECT_EQ(0u, Run());
  EXPECT_TRUE(RegistryRows().empty());
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(1u, InfoTexts().size());
}

}  // namespace
