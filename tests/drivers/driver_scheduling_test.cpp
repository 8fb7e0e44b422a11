// KSProcess on scratch packages: the driver action names are bound to
// set-property actions that append the name and the CustomActionData they
// would receive to the property SCHEDULED.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include "driver_package.h"
#include "frame/action.h"
#include "support/registry_sandbox.h"
#include "support/session.h"

KVCA_ACTION KSProcess(MSIHANDLE install);
KVCA_ACTION KSCleanup(MSIHANDLE install);
KVCA_ACTION KSInstCleanUp(MSIHANDLE install);

namespace {

using namespace kvca::test;

const wchar_t kSep = L'\x0001';

class DriverScheduling : public SessionTest {
 protected:
  DriverScheduling() {
    Sql(L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
        L"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
    Sql(L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
        L"`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), "
        L"`KeyPath` CHAR(72) PRIMARY KEY `Component`)");
    Sql(L"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
        L"`FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), "
        L"`Language` CHAR(20), `Attributes` SHORT, `Sequence` LONG NOT NULL PRIMARY KEY `File`)");
    Sql(L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
        L"`Title` CHAR(64) LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, "
        L"`Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)");
    Sql(L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
        L"PRIMARY KEY `Feature_`, `Component_`)");
    Sql(L"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, "
        L"`Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)");
    Sql(L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', 'SourceDir')");
    Sql(L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('DRIVERDIR', 'TARGETDIR', 'drv|drivers')");
    for (const wchar_t* feature : {L"On", L"Off"})
      Sql(std::wstring(L"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('") + feature +
          L"', " + (feature == std::wstring(L"On") ? L"1" : L"0") + L", 0)");
    for (const wchar_t* name : {L"KSInstall64", L"KSRollback64", L"KSUninstall64", L"KSInstallIA",
                                L"KSRollbackIA", L"KSUninstallIA"})
      Sql(std::wstring(L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('") +
          name + L"', 51, 'SCHEDULED', '[SCHEDULED]" + name + L"=[" + name + L"];')");
  }

  void DriverPackage(const std::wstring& component, const std::wstring& guid, const std::wstring& feature,
                     const std::wstring& fileName, int flags) {
    Sql(L"INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`, `KeyPath`) "
        L"VALUES ('" + component + L"', '" + guid + L"', 'DRIVERDIR', 256, '" + component + L".inf')");
    Sql(L"INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Sequence`) VALUES ('" +
        component + L".inf', '" + component + L"', '" + fileName + L"', 10, 1)");
    Sql(L"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('" + feature + L"', '" +
        component + L"')");
    Sql(L"INSERT INTO `KVDriverPackages` (`Component`, `Flags`) VALUES ('" + component + L"', " +
        std::to_wstring(flags) + L")");
  }

  void DriverTable() {
    Sql(L"CREATE TABLE `KVDriverPackages` (`Component` CHAR(72) NOT NULL, `Flags` LONG NOT NULL "
        L"PRIMARY KEY `Component`)");
  }

  // Costs the session so that component states and target paths are known.
  void Cost() {
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
      ASSERT_EQ(ERROR_SUCCESS, MsiDoActionW(Session(), action)) << action;
  }

  std::wstring DriverDir() {
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    MsiGetTargetPathW(Session(), L"DRIVERDIR", path, &size);
    return path;
  }

  std::vector<Message> ProgressRecords() const { return Messages(INSTALLMESSAGE_PROGRESS); }
};

TEST_F(DriverScheduling, SchedulesRollbackThenInstallForComponentsInstalledLocally) {
  DriverTable();
  DriverPackage(L"KvDrv", L"{11111111-2222-3333-4444-555555555555}", L"On", L"kvdrv~1.inf|kvdriver.inf", 288);
  DriverPackage(L"Idle", L"{11111111-2222-3333-4444-666666666666}", L"Off", L"idle.inf", 0);
  Cost();
  captured_.clear();

  EXPECT_EQ(0u, KSProcess(Session()));
  const std::wstring data = DriverDir() + kSep + L"kvdrv~1.inf|kvdriver.inf" + kSep +
                            L"{11111111-2222-3333-4444-555555555555}" + kSep + L"288" + kSep + L"3000000";
  EXPECT_EQ(L"KSRollback64=" + data + L";KSInstall64=" + data + L";", Property(L"SCHEDULED"));
  EXPECT_EQ((std::vector<std::wstring>{L"Msix64", data}), InfoTexts());

  // The progress pair: action information, then the report of 30 ticks.
  const std::vector<Message> progress = ProgressRecords();
  ASSERT_GE(progress.size(), 2u);
  const Message& info = progress[progress.size() - 2];
  const Message& report = progress.back();
  EXPECT_EQ(1, info.Integer(1));
  EXPECT_EQ(0, info.Integer(2));
  EXPECT_EQ(2, report.Integer(1));
  EXPECT_EQ(30, report.Integer(2));
  EXPECT_EQ(0, report.Integer(3));
}

TEST_F(DriverScheduling, ItaniumNamesWinOverX64) {
  DriverTable();
  DriverPackage(L"KvDrv", L"{11111111-2222-3333-4444-555555555555}", L"On", L"kvdriver.inf", 1);
  Cost();
  SetProperty(L"Intel64", L"1");
  captured_.clear();

  EXPECT_EQ(0u, KSProcess(Session()));
  EXPECT_EQ(0, Property(L"SCHEDULED").find(L"KSRollbackIA="));
  EXPECT_NE(std::wstring::npos, Property(L"SCHEDULED").find(L";KSInstallIA="));
  EXPECT_EQ(L"Intel64", InfoTexts().at(0));
}

TEST_F(DriverScheduling, FirstFailingRowEndsTheLoop) {
  DriverTable();
  DriverPackage(L"A", L"{11111111-2222-3333-4444-55555555555A}", L"On", L"a.inf", 0);
  DriverPackage(L"B", L"{11111111-2222-3333-4444-55555555555B}", L"On", L"b.inf", 0);
  Cost();
  SetProperty(L"Msix64", L"");  // plain names, which this package does not define
  captured_.clear();

  EXPECT_NE(0u, KSProcess(Session()));
  EXPECT_EQ(L"", Property(L"SCHEDULED"));
  const std::vector<std::wstring> info = InfoTexts();
  ASSERT_EQ(2u, info.size()) << "one row only: platform text and data";
  EXPECT_EQ(L"x86", info[0]);
}

TEST_F(DriverScheduling, NoTableSchedulesNothing) {
  Cost();
  captured_.clear();
  EXPECT_EQ(0u, KSProcess(Session()));
  EXPECT_TRUE(InfoTexts().empty());
  EXPECT_EQ(L"", Property(L"SCHEDULED"));
}

class RebootMarker : public SessionTest {
 protected:
  const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  const std::wstring kMarker = kUninstall + L"\\{4785C944-FAD9-46F5-86FD-0992945EAA67}";

  void WriteMarker(const wchar_t* reboot) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.machine(), kMarker.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, L"Reboot", 0, REG_SZ, reinterpret_cast<const BYTE*>(reboot),
                   static_cast<DWORD>((wcslen(reboot) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  UINT Run(UINT(__stdcall* action)(MSIHANDLE)) {
    MSIHANDLE install = Session();
    RegistrySandbox::Redirect redirect(sandbox_);
    return action(install);
  }
  UINT Cleanup() { return Run(KSCleanup); }

  RegistrySandbox sandbox_;
};

TEST_F(RebootMarker, ForceRequestsRestartAndTheMarkerGoes) {
  WriteMarker(L"Force");
  EXPECT_EQ(0u, Cleanup());
  EXPECT_TRUE(MsiGetMode(Session(), MSIRUNMODE_REBOOTATEND));
  EXPECT_FALSE(KeyExists(sandbox_.machine(), kMarker));
  EXPECT_TRUE(KeyExists(sandbox_.machine(), kUninstall));
}

TEST_F(RebootMarker, OtherTextOnlyRemovesTheMarkerAndNoMarkerIsNoFailure) {
  WriteMarker(L"force");
  EXPECT_EQ(0u, Cleanup());
  EXPECT_FALSE(MsiGetMode(Session(), MSIRUNMODE_REBOOTATEND));
  EXPECT_FALSE(KeyExists(sandbox_.machine(), kMarker));

  EXPECT_EQ(0u, Cleanup());
  EXPECT_FALSE(MsiGetMode(Session(), MSIRUNMODE_REBOOTATEND));
}

TEST_F(RebootMarker, InstallerCleanUpDeletesTheMarkerWithoutAskingForARestart) {
  EXPECT_EQ(0u, Run(KSInstCleanUp));
  EXPECT_TRUE(SinkInfoTexts(captured_).empty());
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());

  WriteMarker(L"Force");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.machine(), (kUninstall + L"\\Other").c_str(), 0,
                                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);

  EXPECT_EQ(0u, Run(KSInstCleanUp));
  EXPECT_FALSE(KeyExists(sandbox_.machine(), kMarker));
  EXPECT_TRUE(KeyExists(sandbox_.machine(), kUninstall + L"\\Other"));
  EXPECT_TRUE(Contains(SinkInfoTexts(captured_), L"Empty key '" + kMarker + L"' removed."));
  EXPECT_FALSE(MsiGetMode(Session(), MSIRUNMODE_REBOOTATEND));
}

}  // namespace
