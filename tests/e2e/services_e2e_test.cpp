// The CSP's service and the system checks in the reference package, installed,
// rolled back and removed with the real msiexec.
#include <gtest/gtest.h>

#include <windows.h>

#include "frame/handles.h"
#include "support/installer_run.h"

namespace {

using namespace kvca::test;

// The CSP's service as the manager reports it, or "" when it does not exist.
std::string CspService() {
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  kvca::ServiceHandle service(OpenServiceW(manager.get(), L"kvcsp2", SERVICE_QUERY_CONFIG));
  BYTE block[8192];
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block);
  DWORD size = 0;
  if (!service || !QueryServiceConfigW(service.get(), config, sizeof block, &size)) return "";
  char text[1024];
  snprintf(text, sizeof text, "type=0x%lX start=%lu error=%lu image=%ls display=%ls account=%ls",
           config->dwServiceType, config->dwStartType, config->dwErrorControl,
           config->lpBinaryPathName, config->lpDisplayName, config->lpServiceStartName);
  return text;
}

// Index of the last log line that holds `part`, or -1.
long LastLine(const MsiexecRun& run, const std::string& part) {
  long found = -1;
  for (size_t i = 0; i < run.log.size(); ++i)
    if (run.log[i].find(part) != std::string::npos) found = static_cast<long>(i);
  return found;
}

TEST(ReferencePackageServices, InstallCreatesTheCspServiceAndRemovalDeletesIt) {
  MsiexecRun install = InstallReferencePackage();
  ASSERT_EQ(0u, install.result.exitCode) << install.Excerpt("rror");
  EXPECT_TRUE(install.LogContains(": CheckDll. Return value 1.")) << install.Excerpt("CheckDll");
  EXPECT_TRUE(install.LogContains(": CheckVipNet. Return value 1.")) << install.Excerpt("CheckVipNet");
  EXPECT_FALSE(install.LogContains("Property(S): VIPNETFOUND")) << "no other vendor's CSP here";
  EXPECT_EQ("type=0x110 start=2 error=1 image=%SystemRoot%\\system32\\svchost.exe -k kvcsp "
            "display=Korvex CSP Service account=LocalSystem",
            CspService())
      << install.Excerpt("MsiCreateService");

  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_FALSE(removal.LogContains(": MsiCreateService.")) << "created at the first installation only";
  EXPECT_EQ("", CspService()) << removal.Excerpt("Services");
}

TEST(ReferencePackageServices, ForcedRollbackDeletesTheCspService) {
  MsiexecRun install = InstallReferencePackage(L"FORCEROLLBACK=1");
  EXPECT_EQ(1603u, install.result.exitCode);
  EXPECT_TRUE(install.LogContains(": MsiCreateService. Return value 1."));
  // The rollback action runs once more, from the rollback script, after the failed step.
  const long failed = LastLine(install, ": ForceRollback. Return value 0.");
  ASSERT_NE(-1, failed) << install.Excerpt("ForceRollback");
  EXPECT_LT(failed, LastLine(install, ": MsiCreateServiceRollback. Return value 1."))
      << install.Excerpt("ollback");
  EXPECT_EQ("", CspService());
}

// Makes "secur32.dll" unloadable for every msiexec.exe process (the custom
// action servers included) through Wine's per-program DLL overrides: Wine reads
// WINEDLLOVERRIDES only from the environment a process starts with from Linux,
// not from one that a Windows parent sets.
class Secur32DisabledForMsiexec {
 public:
  Secur32DisabledForMsiexec() {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\msiexec.exe\\DllOverrides", 0,
                    nullptr, 0, KEY_SET_VALUE, nullptr, key_.put(), nullptr);
    RegSetValueExW(key_.get(), L"secur32", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
  }
  ~Secur32DisabledForMsiexec() { RegDeleteValueW(key_.get(), L"secur32"); }

 private:
  kvca::RegKey key_;
};

TEST(ReferencePackageServices, CheckDllStopsTheInstallationWhenALibraryIsMissing) {
  MsiexecRun install;
  {
    Secur32DisabledForMsiexec disabled;
    install = InstallReferencePackage();
  }
  EXPECT_EQ(1603u, install.result.exitCode);
  EXPECT_TRUE(install.LogHas("The system library secur32.dll could not be loaded, error code 126."))
      << install.Excerpt("CheckDll");
  EXPECT_FALSE(install.LogContains(": CheckVipNet.")) << "nothing runs after the failed check";
  EXPECT_EQ("", CspService());
  if (install.result.exitCode == 0) RemoveReferencePackage();
}

}  // namespace

namespace {

using namespace kvca::test;

TEST(ReferencePackageServices, InstallRunsTheSystemSwitchesAndTheTestProgram) {
  const wchar_t* kWindowsKey = L"SYSTEM\\CurrentControlSet\\Control\\Windows";
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kWindowsKey, L"NoInteractiveServices");

  MsiexecRun install = InstallReferencePackage();
  EXPECT_EQ(0u, install.result.exitCode);
  DWORD value = 1;
  DWORD size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kWindowsKey, L"NoInteractiveServices",
                                        RRF_RT_REG_DWORD, nullptr, &value, &size));
  EXPECT_EQ(0u, value);
  EXPECT_TRUE(install.LogHas("\"C:\\windows\\system32\\cmd.exe\" /c exit 0")) << install.Excerpt("cmd.exe");
  EXPECT_TRUE(install.LogHas("WaitForSingleObject()...")) << install.Excerpt("SetupCSPTest");
  // Wine has no smart-card service: the 1923 record is logged, its result ignored.
  EXPECT_TRUE(install.LogContains("Service SCardSvr could not be installed or configured, error code 1060."))
      << install.Excerpt("SCardSvr");

  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_TRUE(removal.LogContains(": UnHookSystem. Return value 1.")) << removal.Excerpt("UnHook");
}

}  // namespace
