#include <gtest/gtest.h>

#include <shlwapi.h>

#include "drivers/action_data.h"
#include "drivers/driver_package.h"
#include "drivers/inf_install.h"
#include "drivers/inf_uninstall.h"
#include "frame/handles.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca;
using namespace kvca::test;

class DriverRemoval : public SessionTest {
 protected:
  DriverRemoval() { Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (25002, 'Driver error')"); }
};

// The pending renames that RemoveFile added: "\??\<moved file>" followed by
// an empty target.
std::vector<std::wstring> MovedAside(const std::vector<std::wstring>& before,
                                     const std::vector<std::wstring>& after) {
  std::vector<std::wstring> added(after.begin() + static_cast<long>(std::min(before.size(), after.size())),
                                  after.end());
  return added;
}

void StopService(const std::wstring& name) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  SERVICE_STATUS status = {};
  if (service) ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 50 && ServiceState(name) != 0; ++i) Sleep(100);
}

// NoStop: no stop, a restart request (the reboot marker), the service deleted
// all the same. The running driver's .sys cannot be deleted: it is moved to a
// csp*.tmp beside it and listed for deletion at restart.
TEST_F(DriverRemoval, NoStopAsksForARestartAndMovesTheDriverFileAside) {
  TestDriverPackage package(L"driver.inf");
  InstallerProgressSink sink(Session());
  DeleteRebootMarker();
  const std::vector<std::wstring> pendingBefore = PendingRenames();
  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, 0, sink));
  ASSERT_TRUE(DeviceOpens(package.name()));
  captured_.clear();

  UninstallInfDriver(package.componentId(), nullptr, NoStop, sink);
  const std::vector<std::wstring> info = SinkInfoTexts(captured_);
  const std::vector<std::wstring> errors = SinkErrorTexts(captured_);
  EXPECT_EQ(1u, errors.size());
  EXPECT_EQ(L"Don't stop driver", errors.empty() ? L"" : errors[0].substr(errors[0].find(L':') + 1));
  EXPECT_TRUE(Contains(info, L"Set reboot action."));
  EXPECT_EQ(L"Force", RebootMarker());
  EXPECT_TRUE(Contains(info, L"Service " + package.name() + L" deleted."));
  EXPECT_EQ(L"Uninstall driver " + package.name() + L" success.", info.back());
  // Deleted while running: the service manager drops it once it stops.
  EXPECT_TRUE(DeviceOpens(package.name()));

  const std::wstring sys = package.Target(L".sys");
  EXPECT_FALSE(FileExists(sys));
  EXPECT_TRUE(Contains(info, L"File:" + sys + L" couldn't be deleted."));
  EXPECT_TRUE(Contains(info, L"File:" + sys + L" success mark delete at reboot."));
  EXPECT_TRUE(Contains(info, L"RemoveFileAction success."));
  const std::vector<std::wstring> added = MovedAside(pendingBefore, PendingRenames());
  ASSERT_EQ(2u, added.size());
  const std::wstring folder = WindowsFolder(L"system32\\drivers\\");
  const std::wstring moved = added[0].substr(4);  // after "\??\"
  EXPECT_EQ(L"\\??\\", added[0].substr(0, 4));
  EXPECT_EQ(folder + L"csp", moved.substr(0, folder.size() + 3)) << moved;
  EXPECT_EQ(L".tmp", moved.substr(moved.size() - 4));
  EXPECT_TRUE(FileExists(moved));
  EXPECT_EQ(L"", added[1]);

  // What a restart would do.
  StopService(package.name());
  EXPECT_EQ(0u, ServiceState(package.name()));
  for (int i = 0; i < 50 && !DeleteFileW(moved.c_str()); ++i) Sleep(100);
  EXPECT_FALSE(FileExists(moved));
  SetPendingRenames(pendingBefore);
  DeleteRebootMarker();
}

std::wstring FixtureFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetEnvironmentVariableW(L"KVCA_FIXTURES", folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

void EndServiceProcess(const std::wstring& name) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof(status), &needed))
    return;
  KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
  if (process) {
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 10000);
  }
  service.reset();
  for (int i = 0; i < 50 && ServiceState(name) != 0; ++i) Sleep(100);
}

// A service that cannot take a stop now counts as stopped, asks for a
// restart, and is deleted all the same.
TEST_F(DriverRemoval, AServiceThatCannotStopAsksForARestart) {
  const std::wstring name = UniqueName(L"kvnostop");
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       FixtureFile(L"unstoppable_service.exe").c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr));
  ASSERT_TRUE(service.valid()) << GetLastError();
  ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
  for (int i = 0; i < 50 && ServiceState(name) != SERVICE_RUNNING; ++i) Sleep(100);
  ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(name));
  service.reset();
  DeleteRebootMarker();

  InstallerProgressSink sink(Session());
  EXPECT_EQ(0u, StopDriver(manager.get(), name, sink));
  EXPECT_EQ(0u, RemoveDriver(manager.get(), name, sink));
  EXPECT_EQ((std::vector<std::wstring>{L"Service " + name + L" can't stop.", L"Set reboot action.",
                                       L"Service " + name + L" deleted."}),
            SinkInfoTexts(captured_));
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());
  EXPECT_EQ(L"Force", RebootMarker());

  EndServiceProcess(name);
  EXPECT_EQ(0u, ServiceState(name));
  captured_.clear();
  EXPECT_EQ(0u, StopDriver(manager.get(), name, sink));
  EXPECT_EQ(0u, RemoveDriver(manager.get(), name, sink));
  EXPECT_EQ((std::vector<std::wstring>{L"No service " + name + L" to stop.", L"No service " + name + L" to remove."}),
            SinkInfoTexts(captured_));
  DeleteRebootMarker();
}

// The OEM INF is gone and the driver store (a stub in Wine, as on a system
// that does not hold the package) has nothing: the removal ends there and
// forgets the location.
TEST(DriverRemovalEnds, WhenTheOemInfIsGone) {
  TestDriverPackage package(L"noservice.inf");
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, NoService, sink));
  ASSERT_TRUE(DeleteFileW(package.OemInf().c_str()));

  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  EXPECT_EQ(L"<missing>", InfLocation(package.componentId()));
  EXPECT_TRUE(FileExists(package.Target(L".dat")));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(Contains(lines, "KSInstall64:info: SetupOpenInfFile:0."));
  bool storeFailure = false;
  for (const std::string& line : lines)
    storeFailure |= line.find(": SetupGetInfDriverStoreLocation fail.") != std::string::npos;
  EXPECT_TRUE(storeFailure);
  EXPECT_EQ("KSInstall64:info: Inf file location deleted.", lines.back());

  DeleteFileW(package.Target(L".dat").c_str());
  DeleteFileW(package.OemInf().substr(0, package.OemInf().size() - 4).append(L".pnf").c_str());
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, package.SettingsKey().c_str());
}

// An OEM INF path in capitals: SetupUninstallOEMInfW is still asked, then the
// name is refused and no file is deleted by name.
TEST(DriverRemovalEnds, OemInfNameInCapitalsIsNotDeletedByName) {
  // The driver actions load setupapi.dll before any removal.
  ModuleHandle setupapi(LoadLibraryW(L"setupapi.dll"));
  ScratchFolder folder;
  const std::wstring path = folder.File(L"OEMKV1.INF");
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), UninstallOemInf(path, sink));
  EXPECT_TRUE(FileExists(path));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("KSInstall64:info: Inf filename: 'OEMKV1.INF'.", lines[0]);
  // Wine's SetupUninstallOEMInfW answers for a name that is not in its INF folder.
  EXPECT_NE(std::string::npos, lines[1].find("SetupUninstallOEMInf")) << lines[1];
  EXPECT_EQ("KSInstall64:error 0x2: Invalid OEMxxxx.inf file name.", lines[2]);
}

}  // namespace
