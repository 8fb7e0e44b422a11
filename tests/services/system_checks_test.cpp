// CheckVipNet, EnableInteractiveServices, and UnHookSystem with the stand-in
// control driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include "frame/handles.h"
#include "service_fixture.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

extern "C" UINT __stdcall CheckVipNet(MSIHANDLE install);
extern "C" UINT __stdcall EnableInteractiveServices(MSIHANDLE install);
extern "C" UINT __stdcall UnHookSystem(MSIHANDLE install);

namespace {

using namespace kvca::test;

class SystemChecks : public SessionTest {
 protected:
  std::wstring CheckVipNetFinds(const wchar_t* before) {
    SetProperty(L"VIPNETFOUND", before);
    EXPECT_EQ(0u, CheckVipNet(Session()));
    return Property(L"VIPNETFOUND");
  }
};

// The other vendor's product and services are machine state: one test looks
// at all of them in turn.
TEST_F(SystemChecks, CheckVipNetFindsTheOtherVendorByProductOrService) {
  const std::wstring package = L"\"" + EnvironmentPath(L"KVCA_OTHER_VENDOR_PACKAGE") + L"\"";
  EXPECT_EQ(L"as it was", CheckVipNetFinds(L"as it was"));

  ASSERT_TRUE(CreateStandinService(L"itcspe64", SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL));
  EXPECT_EQ(L"1", CheckVipNetFinds(L""));
  EXPECT_TRUE(RemoveService(L"itcspe64"));

  ASSERT_EQ(0u, RunMsiexec(L"/i " + package).result.exitCode);
  EXPECT_EQ(L"1", CheckVipNetFinds(L""));
  EXPECT_EQ(0u, RunMsiexec(L"/x " + package).result.exitCode);
  EXPECT_EQ(L"", CheckVipNetFinds(L"")) << "gone again";
}

TEST(SystemSwitches, EnableInteractiveServicesCreatesTheSwitchCleared) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Windows";
  RegistrySandbox sandbox;
  {
    RegistrySandbox::Redirect redirect(sandbox);
    EXPECT_EQ(0u, EnableInteractiveServices(0));
  }
  DWORD type = 0;
  std::wstring data;
  ASSERT_TRUE(ReadRawValue(sandbox.machine(), key, L"NoInteractiveServices", type, data));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(0u, DwordValue(sandbox.machine(), key, L"NoInteractiveServices"));
}

// How many unhook codes the stand-in driver has counted; -1 without the device.
long UnhookCount() {
  kvca::FileHandle device(CreateFileW(L"\\\\.\\Global\\KvxCtrl", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  const DWORD countCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
  LONG count = -1;
  DWORD returned = 0;
  if (!device || !DeviceIoControl(device.get(), countCode, nullptr, 0, &count, sizeof count,
                                  &returned, nullptr))
    return -1;
  return count;
}

// The control device is one name on the machine: one test, without it and with it.
TEST(SystemSwitches, UnHookSystemSendsTheCodeOnceWhenTheDeviceExists) {
  ASSERT_EQ(-1, UnhookCount()) << "the control device is already there";
  EXPECT_EQ(0u, UnHookSystem(0));

  const std::wstring driver = UniqueName(L"kvca_kvxctrl_");
  {
    kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    kvca::ServiceHandle service(CreateServiceW(
        manager.get(), driver.c_str(), driver.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, EnvironmentPath(L"KVCA_CONTROL_DRIVER").c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service && StartServiceW(service.get(), 0, nullptr)) << GetLastError();
  }
  EXPECT_EQ(0, UnhookCount());
  EXPECT_EQ(0u, UnHookSystem(0));
  EXPECT_EQ(1, UnhookCount());
  EXPECT_TRUE(RemoveService(driver));
  EXPECT_EQ(-1, UnhookCount()) << "the driver took its device away";
}

}  // namespace
