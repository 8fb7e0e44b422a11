// CheckDll on a complete system, CheckVipNet, EnableInteractiveServices and
// UnHookSystem.
#include <gtest/gtest.h>

#include "frame/handles.h"
#include "service_fixture.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"
#include "support/session.h"

extern "C" UINT __stdcall CheckDll(MSIHANDLE install);
extern "C" UINT __stdcall CheckVipNet(MSIHANDLE install);
extern "C" UINT __stdcall EnableInteractiveServices(MSIHANDLE install);
extern "C" UINT __stdcall UnHookSystem(MSIHANDLE install);

namespace {

using namespace kvca::test;

using SystemChecks = SessionTest;

TEST_F(SystemChecks, CheckDllLoadsAllFourLibrariesAndFreesThem) {
  const wchar_t* libraries[] = {L"winscard.dll", L"setupapi.dll", L"secur32.dll", L"crypt32.dll"};
  bool loadedBefore[4];
  for (int i = 0; i < 4; ++i) loadedBefore[i] = GetModuleHandleW(libraries[i]) != nullptr;

  EXPECT_EQ(0u, CheckDll(Session()));
  EXPECT_TRUE(captured_.empty());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(loadedBefore[i], GetModuleHandleW(libraries[i]) != nullptr) << libraries[i];
}

// The other vendor's product and services are machine state: one test looks
// at all of them in turn.
TEST_F(SystemChecks, CheckVipNetFindsTheOtherVendorByProductOrService) {
  const std::wstring package = EnvironmentPath(L"KVCA_OTHER_VENDOR_PACKAGE");
  RemoveService(L"itcspe");
  RemoveService(L"itcspe64");

  // Neither: the property stays as it was.
  SetProperty(L"VIPNETFOUND", L"as it was");
  EXPECT_EQ(0u, CheckVipNet(Session()));
  EXPECT_EQ(L"as it was", Property(L"VIPNETFOUND"));

  // The second service name alone.
  ASSERT_TRUE(CreateStandinService(L"itcspe64", SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL));
  SetProperty(L"VIPNETFOUND", L"");
  EXPECT_EQ(0u, CheckVipNet(Session()));
  EXPECT_EQ(L"1", Property(L"VIPNETFOUND"));
  EXPECT_TRUE(RemoveService(L"itcspe64"));

  // The product, found by its upgrade code.
  MsiexecRun install = RunMsiexec(L"/i \"" + package + L"\"");
  ASSERT_EQ(0u, install.result.exitCode) << install.Excerpt("rror");
  SetProperty(L"VIPNETFOUND", L"");
  EXPECT_EQ(0u, CheckVipNet(Session()));
  EXPECT_EQ(L"1", Property(L"VIPNETFOUND"));
  EXPECT_EQ(0u, RunMsiexec(L"/x \"" + package + L"\"").result.exitCode);

  SetProperty(L"VIPNETFOUND", L"");
  EXPECT_EQ(0u, CheckVipNet(Session()));
  EXPECT_EQ(L"", Property(L"VIPNETFOUND")) << "gone again";
  EXPECT_TRUE(Errors().empty());
}

TEST(SystemSwitches, EnableInteractiveServicesClearsTheSwitch) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Windows";
  RegistrySandbox sandbox;
  {
    RegistrySandbox::Redirect redirect(sandbox);
    EXPECT_EQ(0u, EnableInteractiveServices(0)) << "creates the key";
  }
  DWORD type = 0;
  std::wstring data;
  ASSERT_TRUE(ReadRawValue(sandbox.machine(), key, L"NoInteractiveServices", type, data));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0u, DwordValue(sandbox.machine(), key, L"NoInteractiveServices"));

  kvca::RegKey windows;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(sandbox.machine(), key.c_str(), 0, KEY_SET_VALUE, windows.put()));
  const DWORD on = 1;
  RegSetValueExW(windows.get(), L"NoInteractiveServices", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&on), sizeof on);
  {
    RegistrySandbox::Redirect redirect(sandbox);
    EXPECT_EQ(0u, EnableInteractiveServices(0));
  }
  EXPECT_EQ(0u, DwordValue(sandbox.machine(), key, L"NoInteractiveServices"));
}

TEST(SystemSwitches, UnHookSystemWithoutTheControlDeviceDoesNothing) {
  ASSERT_EQ(INVALID_HANDLE_VALUE, CreateFileW(L"\\\\.\\Global\\KvxCtrl", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(0u, UnHookSystem(0));
}

}  // namespace
