#include "drivers/inf_install.h"

#include <memory>
#include <new>

#include "drivers/action_data.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_field.h"
#include "frame/handles.h"
#include "frame/registry.h"

namespace kvca {

namespace {

// Writes the INF location value, without allocating; 0 or the registry's error.
LONG WriteInfFileLocation(const wchar_t* oemInfPath, const std::wstring& componentId) {
  RegKey key;
  const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInfLocationKey, 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (created != ERROR_SUCCESS) return created;
  return RegSetValueExW(key.get(), componentId.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(oemInfPath),
                        static_cast<DWORD>((lstrlenW(oemInfPath) + 1) * sizeof(wchar_t)));
}

constexpr DWORD kDefaultInstallFlags = SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY |
                                       SPINST_INI2REG | SPINST_FILES | SPINST_BITREG |
                                       SPINST_REGSVR | SPINST_UNREGSVR | SPINST_PROFILEITEMS;

std::unique_ptr<wchar_t[]> AllocateText(size_t count) {
  return std::unique_ptr<wchar_t[]>(new (std::nothrow) wchar_t[count]());
}

// Read-only or hidden OEM INFs and PNFs would make SetupCopyOEMInfW fail.
void ClearOemInfAttributes(DriverProgressSink& sink) {
  wchar_t windows[MAX_PATH + 1];
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring folder = std::wstring(windows) + L"\\inf\\";

  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((folder + L"oem*.?nf").c_str(), &entry));
  if (!find) return;
  constexpr DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  do {
    if ((entry.dwFileAttributes & kCleared) == 0) continue;
    const std::wstring path = folder + entry.cFileName;
    if (SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~kCleared))
      ReportInfo(sink, L"SetFileAttributes Success: %s", path.c_str());
    else
      ReportError(sink, L"SetFileAttributes: %s", path.c_str());
  } while (FindNextFileW(find.get(), &entry));
}

// The copy SetupAPI cannot open is emptied, then the INF is copied again. An
// emptied copy left behind by a second copy of another name goes, with its
// compiled .pnf: nothing would ever remove it from the INF store.
std::optional<std::wstring> CheckOemCopy(const std::wstring& oemPath, const std::wstring& directory,
                                         const std::wstring& fullPath, const std::wstring& componentId,
                                         DriverProgressSink& sink) {
  UINT errorLine = 0;
  InfHandle copy(SetupOpenInfFileW(oemPath.c_str(), nullptr, INF_STYLE_WIN4, &errorLine));
  if (copy) {
    ReportInfo(sink, L"SetupOpenInfFile success: %s", oemPath.c_str());
    return oemPath;
  }
  ReportInfo(sink, L"SetupOpenInfFile failure: %s", oemPath.c_str());
  FileHandle empty(CreateFileW(oemPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!empty) {
    ReportError(sink, L"CreateFile");
    return std::nullopt;
  }
  empty.reset();
  std::optional<std::wstring> second = CopyOemInf(directory, fullPath, componentId, sink);
  if (!second) {
    ReportError(sink, L"CopyOemInf second call");
    return std::nullopt;
  }
  if (lstrcmpiW(second->c_str(), oemPath.c_str()) != 0 && oemPath.size() > 4) {
    DeleteFileW(oemPath.c_str());
    DeleteFileW((oemPath.substr(0, oemPath.size() - 4) + L".pnf").c_str());
  }
  ReportInfo(sink, L"CopyOemInf second call success: %s", second->c_str());
  return second;
}

UINT InstallServices(HINF inf, const std::wstring& serviceName, DWORD flags, DriverProgressSink& sink) {
  if (!SetupInstallServicesFromInfSectionW(inf, L"DefaultInstall.Services", 0)) {
    ReportError(sink, L"SetupInstallServicesFromInfSection");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"SetupInstallServicesFromInfSection success");

  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ReportError(sink, L"OpenSCManager");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"OpenSCManager success");
  if (flags & NoStart) return ERROR_SUCCESS;
  if (StartDriver(manager.get(), serviceName, sink) != ERROR_SUCCESS) {
    ReportError(sink, L"StartDriver");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"StartDriver success");
  return ERROR_SUCCESS;
}

}  // namespace

std::optional<SplitPathResult> SplitPath(const std::wstring& path, DWORD fullPathLength,
                                         DriverProgressSink& sink) {
  auto full = AllocateText(fullPathLength);
  auto directory = AllocateText(fullPathLength);
  if (!full || !directory) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ReportError(sink, L"GetFullPathName");
    return std::nullopt;
  }
  wchar_t* filePart = nullptr;
  const DWORD length = GetFullPathNameW(path.c_str(), fullPathLength, full.get(), &filePart);
  if (length == 0 || length >= fullPathLength) {
    ReportError(sink, L"GetFullPathName");
    return std::nullopt;
  }
  SplitPathResult result{full.get(), std::wstring()};
  const size_t directoryLength = filePart ? static_cast<size_t>(filePart - full.get()) : length;
  result.directory.assign(full.get(), directoryLength);

  ClearOemInfAttributes(sink);
  return result;
}

std::optional<std::wstring> GetServiceName(HINF inf, DriverProgressSink& sink) {
  INFCONTEXT line;
  if (!SetupFindFirstLineW(inf, L"DefaultInstall.Services", L"AddService", &line)) {
    ReportError(sink, L"SetupFindFirstLine('DefaultInstall.Services',AddService)");
    return std::nullopt;
  }
  std::optional<std::wstring> name = ReadInfField(line, 1);
  if (!name) {
    ReportError(sink, L"SetupGetStringField('DefaultInstall.Services',AddService)");
    return std::nullopt;
  }
  ReportInfo(sink, L"Found service:%s.", name->c_str());
  return name;
}

std::optional<std::wstring> CopyOemInf(const std::wstring& directory, const std::wstring& fullInfPath,
                                       const std::wstring& componentId, DriverProgressSink& sink) {
  DWORD capacity = MAX_PATH;
  auto buffer = AllocateText(capacity);
  if (!buffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return std::nullopt;
  }
  ReportInfo(sink, L"CopyOemInf: Going to call SetupCopyOEMInf (1-st time)");
  DWORD required = 0;
  BOOL copied = SetupCopyOEMInfW(fullInfPath.c_str(), directory.c_str(), SPOST_PATH, 0, buffer.get(),
                                 capacity, &required, nullptr);
  if (!copied && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    capacity = required;
    buffer = AllocateText(capacity);
    if (!buffer) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return std::nullopt;
    }
    ReportInfo(sink, L"CopyOemInf: Going to call SetupCopyOEMInf (2-nd time)");
    copied = SetupCopyOEMInfW(fullInfPath.c_str(), directory.c_str(), SPOST_PATH, 0, buffer.get(),
                              capacity, &required, nullptr);
  }
  if (!copied) {
    ReportError(sink, L"SetupCopyOEMInf");
    return std::nullopt;
  }
  // The copy is remembered under the component ID as soon as it exists, before
  // anything else can end the installation (memory running out, a copy SetupAPI
  // cannot open): the removal finds it there. SaveInfFileLocation writes the
  // same value again, reporting.
  WriteInfFileLocation(buffer.get(), componentId);
  return std::wstring(buffer.get());
}

// A location that is not written fails like a key that cannot be created:
// without it no removal could find the package again.
UINT SaveInfFileLocation(const std::wstring& oemInfPath, const std::wstring& componentId,
                         DriverProgressSink& sink) {
  const LONG result = WriteInfFileLocation(oemInfPath.c_str(), componentId);
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    ReportError(sink, L"Can't save inf file location");
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

UINT StartDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink) {
  ServiceHandle service(OpenServiceW(manager, serviceName.c_str(), SERVICE_ALL_ACCESS));
  if (!service) {
    ReportError(sink, L"OpenService");
    return ERROR_INSTALL_FAILURE;
  }
  SERVICE_STATUS status = {};
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING) {
    SERVICE_STATUS stopStatus = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &stopStatus);
  }
  if (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    ReportError(sink, L"StartService");
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

UINT InstallInfDriver(const std::wstring& infPath, const std::wstring& componentId, HWND owner,
                      DWORD flags, DriverProgressSink& sink) {
  ReportInfo(sink, L"InstallService start.");
  const DWORD fullPathLength = GetFullPathNameW(infPath.c_str(), 0, nullptr, nullptr);
  if (fullPathLength == 0) {
    ReportError(sink, L"GetFullPathName");
    return ERROR_INSTALL_FAILURE;
  }
  const std::optional<SplitPathResult> paths = SplitPath(infPath, fullPathLength, sink);
  if (!paths) return ERROR_INSTALL_FAILURE;
  ReportInfo(sink, L"FullFileName:%s", paths->fullPath.c_str());
  ReportInfo(sink, L"FullPath:%s", paths->directory.c_str());
  ReportInfo(sink, L"ComponentID:%s", componentId.c_str());

  UINT errorLine = 0;
  InfHandle inf(SetupOpenInfFileW(paths->fullPath.c_str(), nullptr, INF_STYLE_WIN4, &errorLine));
  if (!inf) {
    ReportError(sink, L"SetupOpenInfFile:%d.", errorLine);
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"SetupOpenInfFile success");

  std::optional<std::wstring> serviceName;
  if (!(flags & NoService)) {
    serviceName = GetServiceName(inf.get(), sink);
    if (!serviceName) {
      ReportError(sink, L"GetServiceName");
      return ERROR_INSTALL_FAILURE;
    }
  }

  std::optional<std::wstring> oemPath = CopyOemInf(paths->directory, paths->fullPath, componentId, sink);
  if (!oemPath) {
    ReportError(sink, L"CopyOemInf");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"CopyOemInf success: %s", oemPath->c_str());
  oemPath = CheckOemCopy(*oemPath, paths->directory, paths->fullPath, componentId, sink);
  if (!oemPath) return ERROR_INSTALL_FAILURE;

  if (SaveInfFileLocation(*oemPath, componentId, sink) != ERROR_SUCCESS) {
    ReportError(sink, L"SaveInfFileLocation");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"SaveInfFileLocation success");

  if (!SetupInstallFromInfSectionW(owner, inf.get(), L"DefaultInstall", kDefaultInstallFlags, nullptr,
                                   paths->directory.c_str(), 0, CopyProgressCallback,
                                   static_cast<DriverProgressSink*>(&sink), nullptr, nullptr)) {
    if (GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
      ReportError(sink, L"Service market for delete");
    else
      ReportError(sink, L"SetupInstallFromInfSection");
    return ERROR_INSTALL_FAILURE;
  }
  ReportInfo(sink, L"SetupInstallFromInfSection success");

  if (!(flags & NoService) && InstallServices(inf.get(), *serviceName, flags, sink) != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  ReportInfo(sink, L"Install driver %s success.", serviceName ? serviceName->c_str() : nullptr);
  return ERROR_SUCCESS;
}

}  // namespace kvca
