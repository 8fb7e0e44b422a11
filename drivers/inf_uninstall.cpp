#include "drivers/inf_uninstall.h"

#include <setupapi.h>

#include <memory>
#include <new>

#include "drivers/action_data.h"
#include "drivers/cleanup_actions.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_cleanup.h"
#include "drivers/inf_install.h"
#include "frame/handles.h"

namespace kvca {

namespace {

// Looked up by name in the loaded setupapi.dll: older systems lack them.
using GetInfDriverStoreLocationFunction = BOOL(WINAPI*)(PCWSTR, PSP_ALTPLATFORM_INFO, PCWSTR, PWSTR,
                                                        DWORD, PDWORD);
using UninstallOemInfFunction = BOOL(WINAPI*)(PCWSTR, DWORD, PVOID);

template <class Function>
Function SetupApiFunction(const char* name) {
  HMODULE setupapi = GetModuleHandleW(L"setupapi.dll");
  FARPROC address = setupapi ? GetProcAddress(setupapi, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// Looked up on every use.
GetInfDriverStoreLocationFunction GetInfDriverStoreLocation() {
  return SetupApiFunction<GetInfDriverStoreLocationFunction>("SetupGetInfDriverStoreLocationW");
}

// Looked up once per process; a missing function is remembered as missing.
UninstallOemInfFunction UninstallOemInfApi() {
  static const UninstallOemInfFunction function =
      SetupApiFunction<UninstallOemInfFunction>("SetupUninstallOEMInfW");
  return function;
}

// The OEM INF, or the driver store's copy when the OEM INF does not open.
InfHandle OpenInstalledInf(const std::wstring& fullPath, const std::wstring& storedPath,
                           const std::wstring& componentId, DriverProgressSink& sink) {
  UINT errorLine = 0;
  InfHandle inf(SetupOpenInfFileW(fullPath.c_str(), nullptr, INF_STYLE_WIN4, &errorLine));
  if (inf) return inf;

  const GetInfDriverStoreLocationFunction storeLocation = GetInfDriverStoreLocation();
  ReportInfo(sink, L"SetupOpenInfFile:%d.", errorLine);
  wchar_t storePath[MAX_PATH] = {};
  if (!storeLocation || !storeLocation(storedPath.c_str(), nullptr, nullptr, storePath, MAX_PATH, nullptr)) {
    ReportError(sink, L"SetupGetInfDriverStoreLocation fail.");
    DeleteInfFileLocation(componentId, sink);
    return inf;
  }
  ReportInfo(sink, L"InfDriverStoreLocation: %s", storePath);
  inf.reset(SetupOpenInfFileW(storePath, nullptr, INF_STYLE_WIN4, &errorLine));
  if (!inf) {
    ReportError(sink, L"SetupOpenInfFile from Driver Store:%d.", errorLine);
    DeleteInfFileLocation(componentId, sink);
  }
  return inf;
}

// False when the service control manager cannot be opened: the removal ends.
bool StopAndDeleteService(const std::wstring& serviceName, DWORD flags, DriverProgressSink& sink) {
  ReportInfo(sink, L"DeleteFromService: %s.", serviceName.c_str());
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ReportError(sink, L"OpenSCManager");
    return false;
  }
  if (flags & NoStop) {
    ReportError(sink, L"Don't stop driver");
    sink.OnRebootNeeded();
  } else if (StopDriver(manager.get(), serviceName, sink) != ERROR_SUCCESS) {
    ReportError(sink, L"StopDriver");
  }
  if (RemoveDriver(manager.get(), serviceName, sink) != ERROR_SUCCESS) ReportError(sink, L"RemoveDriver");
  return true;
}

void DeleteCopiedFiles(const std::wstring& directory, HINF inf, DriverProgressSink& sink) {
  FileQueueHandle queue = BuildFileQueue(directory, inf, sink);
  if (!queue) return;
  RemoveFileAction action(sink, true);
  DWORD scanResult = 0;
  if (!SetupScanFileQueueW(queue.get(), SPQ_SCAN_USE_CALLBACK, nullptr, RemoveQueuedFile,
                           &action, &scanResult))
    ReportError(sink, L"SetupScanFileQueue");
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<std::wstring> GetInfFileLocation(const std::wstring& componentId, DriverProgressSink& sink) {
  RegKey key;
  DWORD size = 0;
  std::unique_ptr<BYTE[]> data;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInfLocationKey, 0, KEY_QUERY_VALUE, key.put());
  if (result == ERROR_SUCCESS)
    result = RegQueryValueExW(key.get(), componentId.c_str(), nullptr, nullptr, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    data.reset(new (std::nothrow) BYTE[size + 2]());
    if (data) result = RegQueryValueExW(key.get(), componentId.c_str(), nullptr, nullptr, data.get(), &size);
  }
  key.reset();
  if (result != ERROR_SUCCESS || !data) {
    SetLastError(static_cast<DWORD>(result));  // 0 when the allocation failed
    ReportError(sink, L"Can't get inf file location");
    ReportError(sink, L"GetInfFileLocation");
    return std::nullopt;
  }
  return std::wstring(reinterpret_cast<const wchar_t*>(data.get()));
}

UINT StopDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink) {
  const wchar_t* name = serviceName.c_str();
  ServiceHandle service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      ReportInfo(sink, L"No service %s to stop.", name);
      return ERROR_SUCCESS;
    }
    ReportError(sink, L"OpenService");
    return ERROR_INSTALL_FAILURE;
  }
  SERVICE_STATUS status = {};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    ReportInfo(sink, L"Service %s stopped.", name);
    return ERROR_SUCCESS;
  }
  switch (GetLastError()) {
    case ERROR_DEPENDENT_SERVICES_RUNNING:
    case ERROR_INVALID_SERVICE_CONTROL:
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
    case ERROR_SERVICE_NOT_ACTIVE:
      if (status.dwCurrentState == SERVICE_STOPPED) {
        ReportInfo(sink, L"Service %s already stoped.", name);
      } else {
        ReportInfo(sink, L"Service %s can't stop.", name);
        sink.OnRebootNeeded();
      }
      return ERROR_SUCCESS;
    default:
      ReportError(sink, L"ControlService(SERVICE_CONTROL_STOP)");
      return ERROR_INSTALL_FAILURE;
  }
}

UINT RemoveDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink) {
  const wchar_t* name = serviceName.c_str();
  ServiceHandle service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      ReportInfo(sink, L"No service %s to remove.", name);
      return ERROR_SUCCESS;
    }
    ReportError(sink, L"OpenService");
    return ERROR_INSTALL_FAILURE;
  }
  if (!DeleteService(service.get())) {
    ReportError(sink, L"DeleteService");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"Service %s deleted.", name);
  return ERROR_SUCCESS;
}

UINT UninstallOemInf(const std::wstring& oemInfPath, DriverProgressSink& sink) {
  const size_t lastBackslash = oemInfPath.rfind(L'\\');
  const std::wstring fileName =
      lastBackslash == std::wstring::npos ? oemInfPath : oemInfPath.substr(lastBackslash + 1);
  ReportInfo(sink, L"Inf filename: '%s'.", fileName.c_str());

  if (const UninstallOemInfFunction uninstall = UninstallOemInfApi()) {
    if (uninstall(fileName.c_str(), 0, nullptr))
      ReportInfo(sink, L"SetupUninstallOEMInf done.");
    else
      ReportError(sink, L"SetupUninstallOEMInf");
  }

  if (!EndsWith(oemInfPath, L".inf")) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    ReportError(sink, L"Invalid OEMxxxx.inf file name");
    return ERROR_INSTALL_FAILURE;
  }
  const bool infRemoved = RemoveFile(oemInfPath.c_str(), sink);
  if (infRemoved)
    ReportInfo(sink, L"Inf file '%s' deleted.", oemInfPath.c_str());
  else
    ReportError(sink, L"Couldn't delete inf file:'%s'.", oemInfPath.c_str());

  const std::wstring pnfPath = oemInfPath.substr(0, oemInfPath.size() - 4) + L".pnf";
  const bool pnfRemoved = RemoveFile(pnfPath.c_str(), sink);
  if (pnfRemoved)
    ReportInfo(sink, L"Pnf file '%s' deleted.", pnfPath.c_str());
  else
    ReportError(sink, L"Couldn't delete pnf file:'%s'.", pnfPath.c_str());
  return infRemoved && pnfRemoved ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

void DeleteInfFileLocation(const std::wstring& componentId, DriverProgressSink& sink) {
  RegKey key;
  const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInfLocationKey, 0, KEY_SET_VALUE, key.put());
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    ReportError(sink, L"Can't get inf file location");
    return;
  }
  RegDeleteValueW(key.get(), componentId.c_str());
  key.reset();
  RemoveEmptyKeys(HKEY_LOCAL_MACHINE, kInfLocationKey, sink);
  ReportInfo(sink, L"Inf file location deleted.");
}

void UninstallInfDriver(const std::wstring& componentId, HWND, DWORD flags, DriverProgressSink& sink) {
  ReportInfo(sink, L"KSInstUninstall start.");
  const std::optional<std::wstring> storedPath = GetInfFileLocation(componentId, sink);
  if (!storedPath) return;
  ReportInfo(sink, L"Inf file location: %s", storedPath->c_str());

  const DWORD fullPathLength = GetFullPathNameW(storedPath->c_str(), 0, nullptr, nullptr);
  if (fullPathLength == 0) ReportError(sink, L"GetFullPathName");
  const std::optional<SplitPathResult> paths =
      fullPathLength == 0 ? std::nullopt : SplitPath(*storedPath, fullPathLength, sink);
  if (!paths) {
    DeleteInfFileLocation(componentId, sink);
    ReportError(sink, L"SplitPath");
    return;
  }

  InfHandle inf = OpenInstalledInf(paths->fullPath, *storedPath, componentId, sink);
  if (!inf) return;

  const std::optional<std::wstring> serviceName = GetServiceName(inf.get(), sink);
  if (serviceName && !StopAndDeleteService(*serviceName, flags, sink)) return;

  DeleteCopiedFiles(paths->directory, inf.get(), sink);
  if (serviceName) {
    RemoveRegistryAction action(sink, true);
    RemoveInfRegistry(inf.get(), action, *serviceName);
  }
  inf.reset();

  UninstallOemInf(*storedPath, sink);
  DeleteInfFileLocation(componentId, sink);
  if (serviceName)
    ReportInfo(sink, L"Uninstall driver %s success.", serviceName->c_str());
  else
    ReportInfo(sink, L"Uninstall driver unknown success.");
}

}  // namespace kvca
