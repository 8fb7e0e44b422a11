#include <gtest/gtest.h>

#include "driver_package.h"
#include "frame/action.h"
#include "support/installer_run.h"
#include "support/session.h"

KVCA_ACTION KSInstInstall(MSIHANDLE install);
KVCA_ACTION KSInstUninstall(MSIHANDLE install);
KVCA_ACTION KSInstRollback(MSIHANDLE install);
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

}  // namespace
