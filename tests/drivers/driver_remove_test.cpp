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

// Ends a service as a restart would: a stop, or for one that takes no stop,
// the end of its process.
void EndService(const std::wstring& name) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof(status), &needed))
    return;
  SERVICE_STATUS stop = {};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &stop)) {
    KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
    if (process && TerminateProcess(process.get(), 0)) WaitForSingleObject(process.get(), 10000);
  }
  service.reset();
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
  captured_.clear();

  UninstallInfDriver(package.componentId(), nullptr, NoStop, sink);
  const std::vector<std::wstring> info = SinkInfoTexts(captured_);
  const std::wstring sys = package.Target(L".sys");
  const std::vector<std::wstring> errors = SinkErrorTexts(captured_);  // "code:text"
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(L"Don't stop driver", errors[0].substr(errors[0].find(L':') + 1));
  EXPECT_TRUE(Contains(info, L"Set reboot action."));
  EXPECT_EQ(L"Force", RebootMarker());
  EXPECT_TRUE(Contains(info, L"Service " + package.name() + L" deleted."));
  EXPECT_TRUE(DeviceOpens(package.name()));  // deleted while running: it goes when it stops
  EXPECT_TRUE(Contains(info, L"File:" + sys + L" couldn't be deleted."));
  EXPECT_TRUE(Contains(info, L"File:" + sys + L" success mark delete at reboot."));
  EXPECT_EQ(L"Uninstall driver " + package.name() + L" success.", info.back());
  EXPECT_FALSE(FileExists(sys));

  const std::vector<std::wstring> pending = PendingRenames();
  ASSERT_EQ(pendingBefore.size() + 2, pending.size());
  const std::wstring moved = pending[pending.size() - 2].substr(4);  // after "\??\"
  const std::wstring folder = WindowsFolder(L"system32\\drivers\\csp");
  EXPECT_EQ(folder, moved.substr(0, folder.size())) << moved;
  EXPECT_EQ(L".tmp", moved.substr(moved.size() - 4));
  EXPECT_TRUE(FileExists(moved));
  EXPECT_EQ(L"", pending.back());

  EndService(package.name());
  EXPECT_EQ(0u, ServiceState(package.name()));
  for (int i = 0; i < 50 && !DeleteFileW(moved.c_str()); ++i) Sleep(100);
  SetPendingRenames(pendingBefore);
  DeleteRebootMarker();
}

// A service that cannot take a stop now counts as stopped, asks for a
// restart, and is deleted all the same. (Wine stops a test driver without an
// unload routine, where Windows answers 1052; a service stands in for it.)
TEST_F(DriverRemoval, AServiceThatCannotStopAsksForARestart) {
  const std::wstring name = UniqueName(L"kvnostop");
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       FixtureFile(L"unstoppable_service.exe").c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr));
  ASSERT_TRUE(service.valid() && StartServiceW(service.get(), 0, nullptr)) << GetLastError();
  for (int i = 0; i < 50 && ServiceState(name) != SERVICE_RUNNING; ++i) Sleep(100);
  service.reset();
  DeleteRebootMarker();

  InstallerProgressSink sink(Session());
  EXPECT_EQ(0u, StopDriver(manager.get(), name, sink));
  EXPECT_EQ(0u, RemoveDriver(manager.get(), name, sink));
  EXPECT_EQ(L"Force", RebootMarker());
  EndService(name);
  EXPECT_EQ(0u, StopDriver(manager.get(), name, sink));
  EXPECT_EQ(0u, RemoveDriver(manager.get(), name, sink));
  EXPECT_EQ((std::vector<std::wstring>{L"Service " + name + L" can't stop.", L"Set reboot action.",
                                       L"Service " + name + L" deleted.", L"No service " + name + L" to stop.",
                                       L"No service " + name + L" to remove."}),
            SinkInfoTexts(captured_));
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());
  DeleteRebootMarker();
}

// A driver without an unload routine cannot stop. Windows refuses the stop
// (1052: the can't-stop path and a restart request); Wine reports it stopped
// and keeps it running. Either way its .sys is moved aside and the service goes.
TEST_F(DriverRemoval, ADriverWithoutUnloadRoutineKeepsRunningUntilRestart) {
  TestDriverPackage package(L"driver.inf", TestDriverPackage::Driver::WithoutUnload);
  InstallerProgressSink sink(Session());
  const std::vector<std::wstring> pendingBefore = PendingRenames();
  ASSERT_EQ(0u, InstallInfDriver(package.infPath(), package.componentId(), nullptr, 0, sink));
  captured_.clear();

  UninstallInfDriver(package.componentId(), nullptr, 0, sink);
  const std::vector<std::wstring> info = SinkInfoTexts(captured_);
  EXPECT_TRUE(Contains(info, L"Service " + package.name() + L" stopped.") ||
              Contains(info, L"Service " + package.name() + L" can't stop."));
  EXPECT_TRUE(Contains(info, L"Service " + package.name() + L" deleted."));
  EXPECT_TRUE(DeviceOpens(package.name()));
  EXPECT_TRUE(Contains(info, L"File:" + package.Target(L".sys") + L" success mark delete at reboot."));
  EXPECT_EQ(pendingBefore.size() + 2, PendingRenames().size());
  EXPECT_TRUE(SinkErrorTexts(captured_).empty());
  SetPendingRenames(pendingBefore);
  DeleteRebootMarker();
}

// The OEM INF is gone and the driver store has nothing (Wine's lookup is a
// stub answering ERROR_CALL_NOT_IMPLEMENTED): the removal ends there and
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
  EXPECT_TRUE(Contains(lines, "KSInstall64:error 0x78: SetupGetInfDriverStoreLocation fail.."));
  EXPECT_EQ("KSInstall64:info: Inf file location deleted.", lines.back());

  DeleteFileW(package.Target(L".dat").c_str());
  DeleteFileW((package.OemInf().substr(0, package.OemInf().size() - 4) + L".pnf").c_str());
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, package.SettingsKey().c_str());
}

}  // namespace
