// CheckDll on a complete system, CheckVipNet, EnableInteractiveServices and
// UnHookSystem with the stand-in control driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

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

const wchar_t kControlDevice[] = L"\\\\.\\Global\\KvxCtrl";
const DWORD kCountCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);

// How many unhook codes the stand-in driver has received; -1 without the device.
long UnhookCount() {
  kvca::FileHandle device(CreateFileW(kControlDevice, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  LONG count = -1;
  DWORD returned = 0;
  if (!device || !DeviceIoControl(device.get(), kCountCode, nullptr, 0, &count, sizeof count,
                                  &returned, nullptr))
    return -1;
  return count;
}

// The control device is one name on the machine: one test, without it and with it.
TEST(SystemSwitches, UnHookSystemSendsTheCodeOnceWhenTheDeviceExists) {
  ASSERT_EQ(-1, UnhookCount()) << "the control device is already there";
  EXPECT_EQ(0u, UnHookSystem(0));

  const std::wstring driver = UniqueName(L"kvca_kvxctrl_");
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  kvca::ServiceHandle service(CreateServiceW(
      manager.get(), driver.c_str(), driver.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, EnvironmentPath(L"KVCA_CONTROL_DRIVER").c_str(),
      nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(service.valid()) << GetLastError();
  EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();

  EXPECT_EQ(0, UnhookCount());
  EXPECT_EQ(0u, UnHookSystem(0));
  EXPECT_EQ(1, UnhookCount());

  SERVICE_STATUS status = {};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  EXPECT_TRUE(WaitForServiceState(driver, SERVICE_STOPPED));
  DeleteService(service.get());
  EXPECT_EQ(-1, UnhookCount()) << "the driver took its device away";
}

}  // namespace
