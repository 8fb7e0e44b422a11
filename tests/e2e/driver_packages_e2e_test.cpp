// The reference package's driver package (the test kernel driver "kvpkgdrv")
// installed, removed, rolled back and removed without a stop by the real
// msiexec, and a driver package installed and removed with rundll32.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "drivers/driver_package.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_uninstall.h"
#include "frame/handles.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca::test;

const wchar_t kDriver[] = L"kvpkgdrv";
const wchar_t kComponentId[] = L"{8C2F4A17-5D3E-4B69-A0C1-7E9D2B4F6A18}";
const wchar_t kNoStopComponentId[] = L"{8C2F4A17-5D3E-4B69-A0C1-7E9D2B4F6A19}";
const wchar_t kSettingsKey[] = L"SOFTWARE\\Korvex\\Drivers\\kvpkgdrv";
const char kDriverFolder[] = "C:\\Program Files\\Korvex\\CSP\\Drivers\\";

std::wstring DriverFile() { return WindowsFolder(L"system32\\drivers\\kvpkgdrv.sys"); }
std::wstring OemInf() { return WindowsFolder(L"inf\\kvcsptest.inf"); }

// Services, the INF and drivers folders, the INF locations and the driver's
// settings key: what a driver removal must leave as the installation found it.
std::wstring MachineState() {
  return ServiceListing() + L"\n" + FolderListing(WindowsFolder(L"inf")) + L"\n" +
         FolderListing(WindowsFolder(L"system32\\drivers")) + L"\n" +
         ValueNames(HKEY_LOCAL_MACHINE, kvca::kInfLocationKey) + L"\n" +
         std::to_wstring(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
}

// The driver sink's lines of an installer log, from "KSInstall64:" on.
std::vector<std::string> DriverLines(const MsiexecRun& run) {
  std::vector<std::string> lines;
  for (const std::string& line : run.log) {
    const size_t at = line.find("KSInstall64:");
    if (at != std::string::npos) lines.push_back(line.substr(at));
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Index of the first line at or after `from` that holds `part`, or -1.
long LineOf(const std::vector<std::string>& lines, const std::string& part, long from = 0) {
  for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
    if (lines[i].find(part) != std::string::npos) return static_cast<long>(i);
  return -1;
}

// Index of the last line that holds `part`, or -1.
long LastLineOf(const std::vector<std::string>& lines, const std::string& part) {
  for (size_t i = lines.size(); i-- > 0;)
    if (lines[i].find(part) != std::string::npos) return static_cast<long>(i);
  return -1;
}

// The DriverActionData that KSProcess composes for a row of KVDriverPackages.
std::string ActionData(const std::string& folder, const std::wstring& componentId, const char* flags) {
  return folder + "\x01" "KVCSPT~1.INF|kvcsptest.inf\x01" + Narrow(componentId) + "\x01" + flags + "\x01" "3000000";
}

// Stops and deletes a driver service that a test left behind (a NoStop
// removal deletes the service but leaves the driver running).
void EndDriverService(const std::wstring& name) {
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  kvca::ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | DELETE));
  if (!service) return;
  SERVICE_STATUS status = {};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  DeleteService(service.get());
  service.reset();
  for (int i = 0; i < 50 && ServiceState(name) != 0; ++i) Sleep(100);
}

// Every test leaves the prefix as it found it, also when it fails: the package
// removed when a test installed it, the driver service ended, files moved aside
// by a removal deleted and the pending renames and reboot marker restored.
class DriverPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    pendingBefore_ = PendingRenames();
    DeleteRebootMarker();
  }

  void TearDown() override {
    if (installed_) RemoveReferencePackage(removalProperties_);
    EndDriverService(kDriver);
    const std::vector<std::wstring> pending = PendingRenames();
    for (size_t i = pendingBefore_.size(); i + 1 < pending.size(); i += 2) {
      const std::wstring moved = pending[i].substr(4);  // after "\??\"
      for (int tries = 0; tries < 50 && FileExists(moved) && !DeleteFileW(moved.c_str()); ++tries) Sleep(100);
    }
    SetPendingRenames(pendingBefore_);
    DeleteRebootMarker();
  }

  MsiexecRun Install(const std::wstring& properties = L"") {
    MsiexecRun run = InstallReferencePackage(properties);
    installed_ = run.result.exitCode == 0 || run.result.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED;
    removalProperties_ = properties;
    return run;
  }

  MsiexecRun Remove(const std::wstring& properties = L"") {
    MsiexecRun run = RemoveReferencePackage(properties);
    installed_ = false;
    return run;
  }

  std::vector<std::wstring> pendingBefore_;
  bool installed_ = false;
  std::wstring removalProperties_;
};

const std::vector<std::string> kInstallLines = {
    "KSInstall64:info: InstallService start.",
    "KSInstall64:info: FullFileName:C:\\Program Files\\Korvex\\CSP\\Drivers\\kvcsptest.inf",
    "KSInstall64:info: FullPath:C:\\Program Files\\Korvex\\CSP\\Drivers\\",
    "KSInstall64:info: ComponentID:{8C2F4A17-5D3E-4B69-A0C1-7E9D2B4F6A18}",
    "KSInstall64:info: SetupOpenInfFile success",
    "KSInstall64:info: Found service:kvpkgdrv.",
    "KSInstall64:info: CopyOemInf: Going to call SetupCopyOEMInf (1-st time)",
    "KSInstall64:info: CopyOemInf success: C:\\windows\\inf\\kvcsptest.inf",
    "KSInstall64:info: SetupOpenInfFile success: C:\\windows\\inf\\kvcsptest.inf",
    "KSInstall64:info: SaveInfFileLocation success",
    "KSInstall64:info: Start copy operation:1",
    "KSInstall64:info: Start copy file:'C:\\windows\\system32\\drivers\\kvpkgdrv.sys'",
    "KSInstall64:info: End copy file:'C:\\windows\\system32\\drivers\\kvpkgdrv.sys'",
    "KSInstall64:info: End copy operation.",
    "KSInstall64:info: SetupInstallFromInfSection success",
    "KSInstall64:info: SetupInstallServicesFromInfSection success",
    "KSInstall64:info: OpenSCManager success",
    "KSInstall64:info: StartDriver success",
    "KSInstall64:info: Install driver kvpkgdrv success.",
};

// Wine keeps the INF's own name for its OEM copy (Windows: oemN.inf), which
// the expected lines and OemInf() rely on.
TEST_F(DriverPackages, InstallStartsTheDriverAndRemovalTakesEverythingBack) {
  const std::wstring before = MachineState();
  MsiexecRun install = Install();
  ASSERT_EQ(0u, install.result.exitCode) << install.Excerpt("KSInstall64");

  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriver));
  EXPECT_TRUE(DeviceOpens(kDriver));
  EXPECT_TRUE(FileExists(DriverFile()));
  EXPECT_TRUE(FileExists(OemInf()));
  EXPECT_EQ(OemInf(), InfLocation(kComponentId));
  EXPECT_EQ(1u, DwordValue(HKEY_LOCAL_MACHINE, std::wstring(kSettingsKey) + L"\\Parameters", L"Level"));
  // KSProcess: the platform, then the whole DriverActionData, separators included.
  const std::string data = ActionData(kDriverFolder, kComponentId, "0");
  const long platform = LineOf(install.log, "Msix64");
  ASSERT_NE(-1, platform) << install.Excerpt("KSProcess");
  EXPECT_NE(-1, LineOf(install.log, data, platform)) << install.Excerpt("3000000");
  EXPECT_EQ(Joined(kInstallLines), Joined(DriverLines(install)));

  MsiexecRun removal = Remove();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_NE(-1, LineOf(removal.log, data)) << removal.Excerpt("3000000");
  const std::vector<std::string> lines = DriverLines(removal);
  for (const char* line : {"KSInstall64:info: Service kvpkgdrv stopped.",
                           "KSInstall64:info: Service kvpkgdrv deleted.",
                           "KSInstall64:info: RemoveFileAction success.",
                           "KSInstall64:info: Empty key 'SOFTWARE\\Korvex\\Drivers\\kvpkgdrv' removed.",
                           "KSInstall64:info: Inf file 'C:\\windows\\inf\\kvcsptest.inf' deleted.",
                           "KSInstall64:info: Inf file location deleted."})
    EXPECT_NE(-1, LineOf(lines, line)) << line << "\n" << Joined(lines);
  EXPECT_EQ(-1, LineOf(lines, "KSInstall64:error")) << Joined(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("KSInstall64:info: Uninstall driver kvpkgdrv success.", lines.back());
  EXPECT_EQ(0u, ServiceState(kDriver));
  EXPECT_FALSE(DeviceOpens(kDriver));
  EXPECT_FALSE(FileExists(DriverFile()));
  EXPECT_FALSE(FileExists(OemInf()));
  EXPECT_EQ(L"<missing>", InfLocation(kComponentId));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
  EXPECT_EQ(before, MachineState());
}

// The rollback action, scheduled before the install action, runs from the
// rollback script when a later deferred step fails the installation.
TEST_F(DriverPackages, ForcedRollbackLeavesNoDriverBehind) {
  const std::wstring before = MachineState();
  MsiexecRun install = Install(L"FORCEROLLBACK=1");
  EXPECT_EQ(1603u, install.result.exitCode);

  // The script's run of each action is its last mention: the first one is
  // where it was scheduled.
  const long installed = LastLineOf(install.log, "KSInstall64:info: Install driver kvpkgdrv success.");
  const long failed = LastLineOf(install.log, ": ForceRollback.");
  const long rollback = LineOf(install.log, ": KSRollback64.", failed);
  ASSERT_NE(-1, installed) << install.Excerpt("KSInstall64");
  EXPECT_LT(installed, failed) << install.Excerpt("ForceRollback");
  ASSERT_LT(failed, rollback) << install.Excerpt("ollback");
  EXPECT_NE(-1, LineOf(install.log, "KSInstall64:info: Service kvpkgdrv stopped.", failed));
  EXPECT_GT(LineOf(install.log, "KSInstall64:info: Uninstall driver kvpkgdrv success.", failed), rollback)
      << Joined(DriverLines(install));

  EXPECT_EQ(0u, ServiceState(kDriver));
  EXPECT_FALSE(FileExists(DriverFile()));
  EXPECT_FALSE(FileExists(OemInf()));
  EXPECT_EQ(L"<missing>", InfLocation(kComponentId));
  EXPECT_EQ(before, MachineState());
}

// NoStop: the removal deletes the running driver's service without a stop and
// writes the reboot marker; KSCleanup turns it into the restart request and
// deletes the marker. The running driver's file is moved aside for deletion
// at restart. REBOOT=ReallySuppress keeps Windows from restarting at once.
TEST_F(DriverPackages, RemovalOfADriverThatMayNotStopAsksForARestart) {
  MsiexecRun install = Install(L"KVDRIVERNOSTOP=1 REBOOT=ReallySuppress");
  ASSERT_EQ(0u, install.result.exitCode) << install.Excerpt("KSInstall64");
  const std::string data = ActionData(std::string(kDriverFolder) + "NoStop\\", kNoStopComponentId, "256");
  EXPECT_NE(-1, LineOf(install.log, data)) << install.Excerpt("3000000");
  EXPECT_EQ(OemInf(), InfLocation(kNoStopComponentId));
  EXPECT_EQ(L"<missing>", InfLocation(kComponentId));
  ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(kDriver));

  // Wine evaluates component conditions at removal as well: without the
  // property it would keep the NoStop component and try to remove the other.
  MsiexecRun removal = Remove(L"KVDRIVERNOSTOP=1 REBOOT=ReallySuppress");
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), removal.result.exitCode);
  const std::vector<std::string> lines = DriverLines(removal);
  const long refused = LineOf(lines, ":Don't stop driver");
  ASSERT_NE(-1, refused) << Joined(lines);
  EXPECT_EQ(refused + 1, LineOf(lines, "KSInstall64:info: Set reboot action.")) << Joined(lines);
  EXPECT_TRUE(removal.LogHas("A driver package step failed; see the installation log for details."))
      << removal.Excerpt("Don't stop");  // error 25002 of the package's Error table
  EXPECT_NE(-1, LineOf(lines, "KSInstall64:info: Service kvpkgdrv deleted."));
  EXPECT_NE(-1, LineOf(lines, "KSInstall64:info: File:" + Narrow(DriverFile()) + " success mark delete at reboot."))
      << Joined(lines);
  EXPECT_EQ("KSInstall64:info: Uninstall driver kvpkgdrv success.", lines.back());
  EXPECT_NE(-1, LineOf(removal.log, ": KSCleanup. Return value 1.")) << removal.Excerpt("KSCleanup");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kvca::kRebootMarkerKey));

  // Until the restart the driver keeps running; its file waits for the restart.
  EXPECT_TRUE(DeviceOpens(kDriver));
  EXPECT_FALSE(FileExists(DriverFile()));
  EXPECT_EQ(pendingBefore_.size() + 2, PendingRenames().size());
  EXPECT_EQ(L"<missing>", InfLocation(kNoStopComponentId));
  EXPECT_FALSE(FileExists(OemInf()));
}

// rundll32 takes the entry point without its trailing W and calls KSInstallW
// or KSUninstallW with the rest of its command line.
class CommandLine : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever a failed step left: the package's and the default component ID.
    kvca::ConsoleProgressSink silent(nullptr);
    for (const std::wstring& id : {package_.componentId(), std::wstring(L"ComponentID")})
      if (InfLocation(id) != L"<missing>") kvca::UninstallInfDriver(id, nullptr, 0, silent);
    EndDriverService(package_.name());
  }

  RunResult Rundll32(const std::wstring& entryAndArguments) {
    return RunCommand(L"rundll32.exe " + LibraryPath() + L"," + entryAndArguments);
  }

  TestDriverPackage package_{L"driver.inf"};
  ScratchFolder logs_;
};

TEST_F(CommandLine, Rundll32InstallsAndRemovesADriverPackage) {
  const std::wstring name = package_.name();
  const std::wstring installLog = logs_.File(L"install.log");
  ASSERT_TRUE(Rundll32(L"KSInstall \"" + package_.infPath() + L"\" " + package_.componentId() + L" \"" +
                       installLog + L"\"").started);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(name));
  EXPECT_TRUE(DeviceOpens(name));
  EXPECT_EQ(package_.OemInf(), InfLocation(package_.componentId()));
  std::vector<std::string> lines = ReadLines(installLog);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("KSInstall64:info: InstallService start.", lines.front());
  EXPECT_TRUE(Contains(lines, "KSInstall64:info: ComponentID:" + Narrow(package_.componentId()))) << Joined(lines);
  EXPECT_EQ("KSInstall64:info: Install driver " + Narrow(name) + " success.", lines.back()) << Joined(lines);

  const std::wstring removalLog = logs_.File(L"removal.log");
  Rundll32(L"KSUninstall " + package_.componentId() + L" \"" + removalLog + L"\"");
  EXPECT_EQ(0u, ServiceState(name));
  EXPECT_FALSE(FileExists(package_.Target(L".sys")));
  EXPECT_FALSE(FileExists(package_.OemInf()));
  EXPECT_EQ(L"<missing>", InfLocation(package_.componentId()));
  lines = ReadLines(removalLog);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("KSInstall64:info: KSInstUninstall start.", lines.front());
  EXPECT_TRUE(Contains(lines, "KSInstall64:info: Service " + Narrow(name) + " stopped.")) << Joined(lines);
  EXPECT_EQ("KSInstall64:info: Uninstall driver " + Narrow(name) + " success.", lines.back()) << Joined(lines);

  // Without arguments KSInstall does nothing; without a component ID both
  // take "ComponentID", and the removal needs no argument at all.
  const std::wstring state = ServiceListing() + FolderListing(WindowsFolder(L"inf"));
  Rundll32(L"KSInstall");
  EXPECT_EQ(state, ServiceListing() + FolderListing(WindowsFolder(L"inf")));
  Rundll32(L"KSInstall \"" + package_.infPath() + L"\"");
  EXPECT_EQ(package_.OemInf(), InfLocation(L"ComponentID"));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(name));
  Rundll32(L"KSUninstall");
  EXPECT_EQ(L"<missing>", InfLocation(L"ComponentID"));
  EXPECT_EQ(0u, ServiceState(name));
  EXPECT_FALSE(FileExists(package_.OemInf()));
}

}  // namespace
