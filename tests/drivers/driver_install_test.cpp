#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>

#include "drivers/action_data.h"
#include "drivers/driver_package.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_install.h"
#include "drivers/inf_uninstall.h"
#include "frame/handles.h"
#include "frame/registry.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca;
using namespace kvca::test;

// Lines with NAME, SOURCE and WINDIR filled in for one package.
std::vector<std::string> Expected(const TestDriverPackage& package, std::vector<std::string> lines) {
  const std::string source = Narrow(package.infPath().substr(0, package.infPath().rfind(L'\\') + 1));
  const std::string windows = Narrow(WindowsFolder(L""));
  for (std::string& line : lines) {
    for (const auto& [token, text] : {std::pair<std::string, std::string>{"NAME", Narrow(package.name())},
                                      {"SOURCE\\", source}, {"WINDIR\\", windows}}) {
      for (size_t at = line.find(token); at != std::string::npos; at = line.find(token, at + text.size()))
        line.replace(at, token.size(), text);
    }
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Registry, services and folders that an install followed by a removal must
// leave as they were.
std::wstring MachineState(const TestDriverPackage& package) {
  return ServiceListing() + L"\n" + FolderListing(WindowsFolder(L"inf")) + L"\n" +
         FolderListing(WindowsFolder(L"system32\\drivers")) + L"\n" +
         ValueNames(HKEY_LOCAL_MACHINE, kInfLocationKey) + L"\n" +
         std::to_wstring(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTest")) +
         std::to_wstring(KeyExists(HKEY_LOCAL_MACHINE, package.EventLogKey()));
}

// The uninstall key goes along with the INF location key only when nothing
// else is in it (a fresh Wine prefix; never on Windows).
bool UninstallKeyHoldsOnlyInfLocations() {
  RegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                    KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD subkeys = 0, values = 0;
  RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  return subkeys == 1 && values == 0;
}

// What SetupInstallServicesFromInfSectionW would write on Windows; Wine
// ignores the event-log section of AddService.
void WriteEventLogValues(const TestDriverPackage& package) {
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, package.EventLogKey().c_str(), 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, key.put(), nullptr));
  WriteRegDword(key.get(), L"TypesSupported", 7);
  WriteRegString(key.get(), L"EventMessageFile", L"%SystemRoot%\\System32\\IoLogMsg.dll");
}

const std::vector<std::string> kInstallLines = {
    "KSInstall64:info: InstallService start.",
    "KSInstall64:info: FullFileName:SOURCE\\NAME.inf",
    "KSInstall64:info: FullPath:SOURCE\\",
    "KSInstall64:info: ComponentID:{NAME}",
    "KSInstall64:info: SetupOpenInfFile success",
    "KSInstall64:info: Found service:NAME.",
    "KSInstall64:info: CopyOemInf: Going to call SetupCopyOEMInf (1-st time)",
    "KSInstall64:info: CopyOemInf success: WINDIR\\inf\\NAME.inf",
    "KSInstall64:info: SetupOpenInfFile success: WINDIR\\inf\\NAME.inf",
    "KSInstall64:info: SaveInfFileLocation success",
    "KSInstall64:info: Start copy operation:2",
    "KSInstall64:info: Start copy file:'WINDIR\\system32\\drivers\\NAME.sys'",
    "KSInstall64:info: End copy file:'WINDIR\\system32\\drivers\\NAME.sys'",
    "KSInstall64:info: Start copy file:'WINDIR\\system32\\drivers\\NAME.dat'",
    "KSInstall64:info: End copy file:'WINDIR\\system32\\drivers\\NAME.dat'",
    "KSInstall64:info: End copy operation.",
    "KSInstall64:info: SetupInstallFromInfSection success",
    "KSInstall64:info: SetupInstallServicesFromInfSection success",
    "KSInstall64:info: OpenSCManager success",
    "KSInstall64:info: StartDriver success",
    "KSInstall64:info: Install driver NAME success.",
};

// Wine keeps the INF's own name for the OEM copy (Windows: oemN.inf), which
// the expected lines and OemInf() rely on.
TEST(DriverPackage, InstallThenRemoveLeavesTheMachineAsItWas) {
  TestDriverPackage package(L"driver.inf");
  const std::wstring before = MachineState(package);
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, 0, sink));
  EXPECT_TRUE(FileExists(package.OemInf()));
  EXPECT_EQ(package.OemInf(), InfLocation(package.componentId()));
  EXPECT_TRUE(FileExists(package.Target(L".sys")));
  EXPECT_TRUE(FileExists(package.Target(L".dat")));
  EXPECT_EQ(1u, DwordValue(HKEY_LOCAL_MACHINE, package.SettingsKey() + L"\\Parameters", L"Level"));
  EXPECT_EQ(L"test", StringValue(HKEY_LOCAL_MACHINE, package.SettingsKey(), L"Mode"));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(package.name()));
  EXPECT_TRUE(DeviceOpens(package.name()));
  WriteEventLogValues(package);
  const bool uninstallKeyGoes = UninstallKeyHoldsOnlyInfLocations();

  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  EXPECT_EQ(0u, ServiceState(package.name()));
  EXPECT_FALSE(DeviceOpens(package.name()));
  EXPECT_EQ(before, MachineState(package));
  EXPECT_FALSE(FileExists(package.OemInf()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kInfLocationKey));

  UninstallInfDriver(package.componentId(), nullptr, 0, sink);

  std::vector<std::string> expected = kInstallLines;
  const std::vector<std::string> removal = {
      "KSInstall64:info: KSInstUninstall start.",
      "KSInstall64:info: Inf file location: WINDIR\\inf\\NAME.inf",
      "KSInstall64:info: Found service:NAME.",
      "KSInstall64:info: DeleteFromService: NAME.",
      "KSInstall64:info: Service NAME stopped.",
      "KSInstall64:info: Service NAME deleted.",
      "KSInstall64:info: Build file queue.",
      "KSInstall64:info: Add section 'NAME.Driver'.",
      "KSInstall64:info: Add section 'NAME.Data'.",
      "KSInstall64:info: Build file queue success.",
      "KSInstall64:info: Start RemoveFileAction for file:'WINDIR\\system32\\drivers\\NAME.sys'.",
      "KSInstall64:info: RemoveFileAction success.",
      "KSInstall64:info: Start RemoveFileAction for file:'WINDIR\\system32\\drivers\\NAME.dat'.",
      "KSInstall64:info: RemoveFileAction success.",
      "KSInstall64:info: RemoveRegistryAction section:'NAME.Settings'.",
      "KSInstall64:info: RemoveRegistryAction. 'HKLM\\SOFTWARE\\KvTest\\NAME\\Parameters\\Level'.",
      "KSInstall64:info: Empty key 'SOFTWARE\\KvTest\\NAME\\Parameters' removed.",
      "KSInstall64:info: RemoveRegistryAction success.",
      "KSInstall64:info: RemoveRegistryAction. 'HKLM\\SOFTWARE\\KvTest\\NAME\\Mode'.",
      "KSInstall64:info: Empty key 'SOFTWARE\\KvTest\\NAME' removed.",
      "KSInstall64:info: Empty key 'SOFTWARE\\KvTest' removed.",
      "KSInstall64:info: RemoveRegistryAction success.",
      "KSInstall64:info: RemoveRegistryAction for section 'NAME.Settings' success.",
      "KSInstall64:info: Found event log section:'NAME.EventLog'.",
      "KSInstall64:info: Found event log type:'System'.",
      "KSInstall64:info: RemoveRegistryAction section:'NAME.EventLog.Reg'.",
      "KSInstall64:info: RemoveRegistryAction. "
      "'HKR\\System\\CurrentControlSet\\Services\\EventLog\\System\\NAME\\EventMessageFile'.",
      "KSInstall64:info: RemoveRegistryAction success.",
      "KSInstall64:info: RemoveRegistryAction. "
      "'HKR\\System\\CurrentControlSet\\Services\\EventLog\\System\\NAME\\TypesSupported'.",
      "KSInstall64:info: Empty key 'System\\CurrentControlSet\\Services\\EventLog\\System\\NAME' removed.",
      "KSInstall64:info: RemoveRegistryAction success.",
      "KSInstall64:info: RemoveRegistryAction for section 'NAME.EventLog.Reg' success.",
      "KSInstall64:info: Inf filename: 'NAME.inf'.",
      "KSInstall64:info: SetupUninstallOEMInf done.",
      "KSInstall64:info: Inf file 'WINDIR\\inf\\NAME.inf' deleted.",
      "KSInstall64:info: Pnf file 'WINDIR\\inf\\NAME.pnf' deleted.",
      "KSInstall64:info: Empty key "
      "'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{FA9D1840-0118-4167-897A-4065D472DABB}' removed.",
  };
  expected.insert(expected.end(), removal.begin(), removal.end());
  if (uninstallKeyGoes)
    expected.push_back("KSInstall64:info: Empty key 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall' removed.");
  for (const char* line : {"KSInstall64:info: Inf file location deleted.",
                           "KSInstall64:info: Uninstall driver NAME success.",
                           // The second removal finds no location.
                           "KSInstall64:info: KSInstUninstall start.",
                           "KSInstall64:error 0x2: Can't get inf file location.",
                           "KSInstall64:error 0x2: GetInfFileLocation."})
    expected.push_back(line);
  EXPECT_EQ(Joined(Expected(package, expected)), Joined(log.Lines()));
}

class InstallerSinkDriver : public SessionTest {
 protected:
  InstallerSinkDriver() {
    Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (25002, 'Driver installation error')");
  }
  size_t DriverErrorRecords() const {
    size_t count = 0;
    for (const Message& message : Errors()) count += message.HasField(1) && message.Integer(1) == 25002;
    return count;
  }
};

// NoStart installs the service without starting it; its removal then finds
// it stopped. Every report travels as installer records.
TEST_F(InstallerSinkDriver, NoStartInstallsAStoppedServiceThatRemovalFindsStopped) {
  TestDriverPackage package(L"driver.inf");
  InstallerProgressSink sink(Session());

  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, NoStart, sink))
      << Narrow(SinkErrorTexts(captured_).empty() ? L"" : SinkErrorTexts(captured_).back());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(package.name()));
  EXPECT_FALSE(DeviceOpens(package.name()));
  std::vector<std::wstring> info = SinkInfoTexts(captured_);
  EXPECT_TRUE(Contains(info, L"OpenSCManager success"));
  EXPECT_FALSE(Contains(info, L"StartDriver success"));
  EXPECT_EQ(L"Install driver " + package.name() + L" success.", info.back());
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());

  captured_.clear();
  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  info = SinkInfoTexts(captured_);
  EXPECT_TRUE(Contains(info, L"Service " + package.name() + L" already stoped."));
  EXPECT_EQ(L"Uninstall driver " + package.name() + L" success.", info.back());
  EXPECT_EQ(0u, ServiceState(package.name()));
  EXPECT_EQ(0u, DriverErrorRecords());

  // A second removal: both errors as log lines with the code and as error 25002.
  captured_.clear();
  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  EXPECT_EQ((std::vector<std::wstring>{L"2:Can't get inf file location", L"2:GetInfFileLocation"}),
            SinkErrorTexts(captured_));
  EXPECT_EQ(2u, DriverErrorRecords());
}

// NoService needs no DefaultInstall.Services; the final line names a null
// text. The INF's bare file name is taken in the current folder.
TEST(DriverPackage, NoServiceInstallsOnlyTheSection) {
  TestDriverPackage package(L"noservice.inf");
  const std::wstring services = ServiceListing();
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  const std::wstring folder = package.infPath().substr(0, package.infPath().rfind(L'\\'));
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

  const UINT installed = InstallInfDriver(package.name() + L".inf", package.componentId(), nullptr, NoService, sink);
  SetCurrentDirectoryW(WindowsFolder(L"").c_str());  // the scratch folder goes at the end
  ASSERT_EQ(0u, installed);
  EXPECT_TRUE(FileExists(package.Target(L".dat")));
  EXPECT_EQ(L"test", StringValue(HKEY_LOCAL_MACHINE, package.SettingsKey(), L"Mode"));
  EXPECT_EQ(services, ServiceListing());

  // Without a service the removal deletes the files but walks no registry section.
  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  EXPECT_FALSE(FileExists(package.Target(L".dat")));
  EXPECT_FALSE(FileExists(package.OemInf()));
  EXPECT_EQ(L"test", StringValue(HKEY_LOCAL_MACHINE, package.SettingsKey(), L"Mode"));
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, package.SettingsKey().c_str());

  const std::vector<std::string> lines = log.Lines();
  EXPECT_TRUE(Contains(lines, "KSInstall64:info: FullFileName:" + Narrow(package.infPath())));
  EXPECT_TRUE(Contains(lines, "KSInstall64:info: Install driver (null) success."));
  EXPECT_FALSE(Contains(lines, "KSInstall64:info: SetupInstallServicesFromInfSection success"));
  // Wine answers ERROR_LINE_NOT_FOUND for the missing section as well.
  EXPECT_TRUE(Contains(lines, "KSInstall64:error 0xE0000102: SetupFindFirstLine('DefaultInstall.Services',AddService)."))
      << Joined(lines);
  EXPECT_FALSE(Contains(lines, "KSInstall64:info: DeleteFromService: (null)."));
  EXPECT_EQ("KSInstall64:info: Uninstall driver unknown success.", lines.back());
}

// StartDriver on a running driver stops it and starts it again. (A second
// InstallInfDriver cannot show this under Wine: copying over the running
// driver's .sys fails there, where Windows delays the replacement.)
TEST(DriverPackage, StartDriverRestartsARunningDriver) {
  TestDriverPackage package(L"driver.inf");
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, 0, sink)) << Joined(log.Lines());
  ASSERT_TRUE(DeviceOpens(package.name()));

  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  EXPECT_EQ(0u, StartDriver(manager.get(), package.name(), sink));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(package.name()));
  EXPECT_TRUE(DeviceOpens(package.name()));
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), StartDriver(manager.get(), L"kvca_no_such_driver", sink));

  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  EXPECT_EQ(0u, ServiceState(package.name()));
  EXPECT_FALSE(FileExists(package.Target(L".sys")));
  const std::vector<std::string> lines = log.Lines();
  EXPECT_TRUE(Contains(lines, "KSInstall64:error 0x424: OpenService.")) << Joined(lines);
  EXPECT_EQ("KSInstall64:info: Uninstall driver " + Narrow(package.name()) + " success.", lines.back());
}

// A file that cannot be copied aborts the section install after the INF
// location was saved; the removal takes everything back.
TEST(DriverPackage, FailedSectionInstallIsTakenBackByTheRemoval) {
  TestDriverPackage package(L"driver.inf");
  ASSERT_TRUE(DeleteFileW(package.SourceFile(L".dat").c_str()));
  const std::wstring before = MachineState(package);
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE),
            InstallInfDriver(package.infPath(), package.componentId(), nullptr, 0, sink));
  EXPECT_EQ(package.OemInf(), InfLocation(package.componentId()));
  EXPECT_EQ(0u, ServiceState(package.name()));
  const std::vector<std::string> install = log.Lines();
  ASSERT_FALSE(install.empty());
  EXPECT_EQ("SetupInstallFromInfSection.", install.back().substr(install.back().find(": ") + 2))
      << Joined(install);

  ConsoleLog removalLog;
  ConsoleProgressSink removalSink(removalLog.stream());
  UninstallInfDriver(package.componentId(), nullptr, 0, removalSink);
  EXPECT_EQ(before, MachineState(package)) << Joined(removalLog.Lines());
  EXPECT_TRUE(Contains(removalLog.Lines(), "KSInstall64:info: No service " + Narrow(package.name()) + " to stop."));
}

}  // namespace
