// KSProcess: schedules the deferred driver actions for every package of the
// KVDriverPackages table whose component is installed or removed.
// KSCleanup: turns the reboot marker of a driver removal into a restart request.
#include "drivers/driver_registry.h"
#include "drivers/progress.h"
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/registry.h"
#include "frame/wide.h"

namespace kvca {

static const wchar_t kDriverPackagesQuery[] =
    L"SELECT `KVDriverPackages`.`Component`, `Component`.`ComponentId`, `File`.`FileName`, "
    L"`Component`.`Directory_`, `KVDriverPackages`.`Flags` FROM `KVDriverPackages`, `Component`, "
    L"`File` WHERE `KVDriverPackages`.`Component` = `Component`.`Component` AND "
    L"`Component`.`KeyPath` = `File`.`File`";


enum class DriverOperation { Install, Uninstall };

struct PlatformActions {
  const wchar_t* install;
  const wchar_t* rollback;
  const wchar_t* uninstall;
  const wchar_t* platform;
};

static const PlatformActions kItanium = {L"KSInstallIA", L"KSRollbackIA", L"KSUninstallIA", L"Intel64"};
static const PlatformActions kX64 = {L"KSInstall64", L"KSRollback64", L"KSUninstall64", L"Msix64"};
static const PlatformActions kX86 = {L"KSInstall", L"KSRollback", L"KSUninstall", L"x86"};

// The action names of the platform the installer reports; the property reads'
// codes go into `result`.
static const PlatformActions& ChoosePlatform(MSIHANDLE install, UINT& result) {
  std::wstring value;
  result |= ReadProperty(install, L"Intel64", value);
  if (!value.empty()) return kItanium;
  result |= ReadProperty(install, L"Msix64", value);
  return value.empty() ? kX86 : kX64;
}

// The property must hold the data before the action is scheduled: two statements,
// since the operands of | are not ordered.
static UINT SetAndSchedule(MSIHANDLE install, const wchar_t* action, const std::wstring& data) {
  const UINT set = MsiSetPropertyW(install, action, data.c_str());
  const UINT scheduled = MsiDoActionW(install, action);
  return set | scheduled;
}

static UINT ScheduleDriverPackage(MSIHANDLE install, DriverOperation operation,
                                  const std::wstring& fileName, const std::wstring& targetPath,
                                  const std::wstring& componentId, UINT flags) {
  UINT result = ERROR_SUCCESS;
  const PlatformActions& actions = ChoosePlatform(install, result);
  LogInfo(install, actions.platform);

  const std::wstring data = targetPath + kDataSeparator + fileName + kDataSeparator + componentId +
                            kDataSeparator + Format(L"%u", flags) + kDataSeparator +
                            Format(L"%ld", 3000000L);
  if (operation == DriverOperation::Install) {
    // The rollback is scheduled first, so that it is in the script when the install fails.
    result |= SetAndSchedule(install, actions.rollback, data);
    result |= SetAndSchedule(install, actions.install, data);
  } else {
    result |= SetAndSchedule(install, actions.uninstall, data);
  }
  LogInfo(install, data);
  SendProgress(install, 30);
  return result;
}

static UINT ReadTargetPath(MSIHANDLE install, const std::wstring& directory, std::wstring& path) {
  path.clear();
  wchar_t empty[1] = {L'\0'};
  DWORD size = 0;
  UINT result = MsiGetTargetPathW(install, directory.c_str(), empty, &size);
  if (result != ERROR_MORE_DATA) return result;
  std::wstring buffer(static_cast<size_t>(size) + 1, L'\0');
  ++size;
  result = MsiGetTargetPathW(install, directory.c_str(), &buffer[0], &size);
  if (result == ERROR_SUCCESS) path.assign(buffer.c_str());
  return result;
}

// Schedules one row's package; returns the OR of every installer code of the row.
static UINT ProcessDriverPackageRow(MSIHANDLE install, MSIHANDLE record) {
  std::wstring component, componentId, fileName, directory, targetPath;
  UINT result = ReadRecordString(record, 1, component);
  result |= ReadRecordString(record, 2, componentId);
  result |= ReadRecordString(record, 3, fileName);
  result |= ReadRecordString(record, 4, directory);
  const UINT flags = static_cast<UINT>(MsiRecordGetInteger(record, 5));
  result |= ReadTargetPath(install, directory, targetPath);

  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  result |= MsiGetComponentStateW(install, component.c_str(), &installed, &action);

  if (action == INSTALLSTATE_LOCAL)
    result |= ScheduleDriverPackage(install, DriverOperation::Install, fileName, targetPath, componentId, flags);
  else if (installed != INSTALLSTATE_ABSENT && action == INSTALLSTATE_ABSENT)
    result |= ScheduleDriverPackage(install, DriverOperation::Uninstall, fileName, targetPath, componentId, flags);
  return result;
}

static MSIHANDLE ActiveDatabase(MSIHANDLE install) {
  MSIHANDLE database = MsiGetActiveDatabase(install);
  if (database == 0) {
    MsiHandle lastError(MsiGetLastErrorRecord());
    database = MsiGetActiveDatabase(install);
  }
  return database;
}

static UINT ProcessDriverPackages(MSIHANDLE install) {
  MsiHandle database(ActiveDatabase(install));
  const MSICONDITION persistent = MsiDatabaseIsTablePersistentW(database.get(), L"KVDriverPackages");
  if (persistent == MSICONDITION_NONE || persistent == MSICONDITION_ERROR) return ERROR_SUCCESS;

  DatabaseView view;
  if (view.Open(database.get(), kDriverPackagesQuery) != ERROR_SUCCESS || view.Execute() != ERROR_SUCCESS)
    return ERROR_SUCCESS;

  for (;;) {
    MsiHandle record;
    // A fetch that fails otherwise leaves no record: the row's reads fail and end the loop.
    if (view.Fetch(record) == ERROR_NO_MORE_ITEMS) break;
    const UINT rowResult = ProcessDriverPackageRow(install, record.get());
    if (rowResult != ERROR_SUCCESS) return rowResult;
  }
  return ERROR_SUCCESS;
}

static UINT RequestRestartFromMarker(MSIHANDLE install) {
  UINT setMode = ERROR_SUCCESS;
  {
    RegKey marker;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRebootMarkerKey, 0, KEY_READ, marker.put()) != ERROR_SUCCESS)
      return ERROR_SUCCESS;
    std::wstring reboot;
    if (ReadRegString(marker.get(), kRebootMarkerValue, reboot) != ERROR_SUCCESS) return ERROR_SUCCESS;
    if (reboot == L"Force") setMode = MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
  }
  RegKey uninstall;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ALL_ACCESS, uninstall.put());
  if (setMode != ERROR_SUCCESS || opened != ERROR_SUCCESS) return ERROR_SUCCESS;
  return static_cast<UINT>(RegDeleteKeyW(uninstall.get(), kRebootMarkerSubkey));
}

}  // namespace kvca

KVCA_ACTION KSProcess(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::ProcessDriverPackages(install); });
}

KVCA_ACTION KSCleanup(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::RequestRestartFromMarker(install); });
}
