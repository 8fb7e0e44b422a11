#include <gtest/gtest.h>

#include "driver_package.h"
#include "frame/action.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"
#include "support/session.h"

KVCA_ACTION KSInstInstall(MSIHANDLE install);
KVCA_ACTION KSInstUninstall(MSIHANDLE install);
KVCA_ACTION KSInstRollback(MSIHANDLE install);
KVCA_ACTION KSInstCleanUp(MSIHANDLE install);
extern "C" void CALLBACK KSUninstallW(HWND window, HINSTANCE, LPWSTR commandLine, int);

namespace {

using namespace kvca::test;

TEST(DriverActions, UnreadableActionDataFailsBeforeAnythingIsDone) {
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), KSInstInstall(0));
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), KSInstUninstall(0));
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), KSInstRollback(0));
}

TEST(DriverActions, CommandLineRemovalOfAnUnknownPackageLogsWhyItStops) {
  ScratchFolder folder;
  const std::wstring logPath = folder.File(L"ksuninstall.log");
  std::wstring commandLine = L"{0D1E2F3A-4B5C-6D7E-8F90-A1B2C3D4E5F6} \"" + logPath + L"\"";
  KSUninstallW(nullptr, nullptr, &commandLine[0], SW_HIDE);
  EXPECT_EQ((std::vector<std::string>{"KSInstall64:info: KSInstUninstall start.",
                                      "KSInstall64:error 0x2: Can't get inf file location.",
                                      "KSInstall64:error 0x2: GetInfFileLocation."}),
            ReadLines(logPath));
}

class RebootMarkerCleanup : public SessionTest {
 protected:
  const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  const std::wstring kMarker = kUninstall + L"\\{4785C944-FAD9-46F5-86FD-0992945EAA67}";

  UINT CleanUp() {
    MSIHANDLE install = Session();
    RegistrySandbox::Redirect redirect(sandbox_);
    return KSInstCleanUp(install);
  }
  RegistrySandbox sandbox_;
};

TEST_F(RebootMarkerCleanup, DeletesTheMarkerWithoutAskingForARestart) {
  EXPECT_EQ(0u, CleanUp());
  EXPECT_TRUE(SinkInfoTexts(captured_).empty());
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.machine(), kMarker.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, L"Reboot", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Force"), 12);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(sandbox_.machine(), (kUninstall + L"\\Other").c_str(), 0,
                                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);

  EXPECT_EQ(0u, CleanUp());
  EXPECT_FALSE(KeyExists(sandbox_.machine(), kMarker));
  EXPECT_TRUE(KeyExists(sandbox_.machine(), kUninstall + L"\\Other"));
  EXPECT_TRUE(Contains(SinkInfoTexts(captured_), L"Empty key '" + kMarker + L"' removed."));
  EXPECT_FALSE(MsiGetMode(Session(), MSIRUNMODE_REBOOTATEND));
}

}  // namespace
