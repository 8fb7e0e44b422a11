#include "drivers/inf_cleanup.h"

#include "drivers/inf_field.h"

namespace kvca {

FileQueueHandle BuildFileQueue(const std::wstring& sourceDirectory, HINF inf, DriverProgressSink& sink) {
  FileQueueHandle queue(SetupOpenFileQueue());
  ReportInfo(sink, L"Build file queue.");
  if (!queue) {
    ReportError(sink, L"SetupOpenFileQueue");
    return queue;
  }
  INFCONTEXT line;
  if (!SetupFindFirstLineW(inf, L"DefaultInstall", L"CopyFiles", &line)) {
    ReportInfo(sink, L"No files found 'DefaultInstall.CopyFiles'.");
    return queue;
  }
  do {
    const std::optional<std::wstring> section = ReadInfField(line, 1);
    if (!section) {
      queue.reset();
      ReportError(sink, L"SetupGetStringField('DefaultInstall',CopyFiles)");
      return queue;
    }
    if (!SetupQueueCopySectionW(queue.get(), sourceDirectory.c_str(), inf, nullptr, section->c_str(), 0)) {
      const DWORD error = GetLastError();
      queue.reset();
      SetLastError(error);
      ReportError(sink, L"SetupQueueCopySection");
      return queue;
    }
    ReportInfo(sink, L"Add section '%s'.", section->c_str());
  } while (SetupFindNextMatchLineW(&line, L"CopyFiles", &line));
  ReportInfo(sink, L"Build file queue success.");
  return queue;
}

UINT CALLBACK RemoveQueuedFile(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
  const RemoveFileAction& action = *static_cast<const RemoveFileAction*>(context);
  DriverProgressSink& sink = action.sink();
  if (notification != SPFILENOTIFY_QUEUESCAN) {
    SetLastError(notification);
    ReportError(sink, L"%s. Unknown notification %d.", action.name().c_str(), notification);
    return NO_ERROR;
  }
  const wchar_t* target = reinterpret_cast<const wchar_t*>(param1);
  ReportInfo(sink, L"Start %s for file:'%s'.", action.name().c_str(), target);
  if (action.Apply(target) == ERROR_SUCCESS)
    ReportInfo(sink, L"%s success.", action.name().c_str());
  else
    ReportInfo(sink, L"%s error ignored.", action.name().c_str());
  return NO_ERROR;
}

namespace {

bool FindAddService(HINF inf, INFCONTEXT& line, DriverProgressSink& sink) {
  if (SetupFindFirstLineW(inf, L"DefaultInstall.Services", L"AddService", &line)) return true;
  ReportError(sink, L"SetupFindFirstLine('DefaultInstall.Services',AddService)");
  return false;
}

struct RegistryTarget {
  HKEY root;
  std::wstring subkey;
};

// HKCR, HKCU and HKLM as written; HKR below the walk's root and prefix.
std::optional<RegistryTarget> ResolveRoot(const std::wstring& abbreviation, const std::wstring& subkey,
                                          HKEY root, const wchar_t* keyPrefix) {
  if (abbreviation == L"HKCR") return RegistryTarget{HKEY_CLASSES_ROOT, subkey};
  if (abbreviation == L"HKCU") return RegistryTarget{HKEY_CURRENT_USER, subkey};
  if (abbreviation == L"HKLM") return RegistryTarget{HKEY_LOCAL_MACHINE, subkey};
  if (abbreviation == L"HKR" && root) {
    const std::wstring prefix = keyPrefix ? keyPrefix : L"";
    return RegistryTarget{root, subkey.empty() ? prefix : prefix + L"\\" + subkey};
  }
  return std::nullopt;
}

}  // namespace

UINT RemoveRegistrySection(HINF inf, const RemoveRegistryAction& action, const std::wstring& section,
                           HKEY root, const wchar_t* keyPrefix) {
  DriverProgressSink& sink = action.sink();
  const wchar_t* name = action.name().c_str();
  ReportInfo(sink, L"%s section:'%s'.", name, section.c_str());
  INFCONTEXT line;
  if (!SetupFindFirstLineW(inf, section.c_str(), nullptr, &line)) {
    ReportInfo(sink, L"No registry entry found at section:'%s'.", section.c_str());
    return ERROR_SUCCESS;
  }
  do {
    const std::optional<std::wstring> abbreviation = ReadInfField(line, 1);
    const std::optional<std::wstring> subkey = abbreviation ? ReadInfField(line, 2) : std::nullopt;
    const std::optional<std::wstring> value = subkey ? ReadInfField(line, 3) : std::nullopt;
    if (!value) {
      ReportError(sink, L"SetupGetStringField");
      return ERROR_INSTALL_FAILURE;
    }
    const std::optional<RegistryTarget> target = ResolveRoot(*abbreviation, *subkey, root, keyPrefix);
    if (!target) {
      ReportError(sink, L"Invalid abbriviation");
      return ERROR_INSTALL_FAILURE;
    }
    ReportInfo(sink, L"%s. '%s\\%s\\%s'.", name, abbreviation->c_str(), target->subkey.c_str(),
               value->c_str());
    if (action.Apply(target->root, target->subkey, *value) == ERROR_SUCCESS) {
      ReportInfo(sink, L"%s success.", name);
    } else if (action.ignoreErrors()) {
      ReportInfo(sink, L"%s error ignored.", name);
    } else {
      ReportError(sink, L"%s failed.", name);
      return ERROR_INSTALL_FAILURE;
    }
  } while (SetupFindNextLine(&line, &line));
  ReportInfo(sink, L"%s for section '%s' success.", name, section.c_str());
  return ERROR_SUCCESS;
}

UINT RemoveAddRegSections(HINF inf, const RemoveRegistryAction& action, HKEY root,
                          const wchar_t* keyPrefix, const INFCONTEXT& firstLine) {
  DriverProgressSink& sink = action.sink();
  INFCONTEXT line = firstLine;
  do {
    const std::optional<std::wstring> section = ReadInfField(line, 1);
    if (!section) {
      ReportError(sink, L"SetupGetStringField('DefaultInstall',AddReg)");
      return ERROR_INSTALL_FAILURE;
    }
    if (RemoveRegistrySection(inf, action, *section, root, keyPrefix) != ERROR_SUCCESS) {
      if (!action.ignoreErrors()) return ERROR_INSTALL_FAILURE;
      ReportInfo(sink, L"Error ignored.");
    }
  } while (SetupFindNextMatchLineW(&line, L"AddReg", &line));
  return ERROR_SUCCESS;
}

std::optional<std::wstring> GetEventLogSection(HINF inf, DriverProgressSink& sink) {
  INFCONTEXT line;
  if (!FindAddService(inf, line, sink)) return std::nullopt;
  std::optional<std::wstring> section = ReadInfField(line, 4);
  if (section) ReportInfo(sink, L"Found event log section:'%s'.", section->c_str());
  return section;
}

std::optional<std::wstring> GetEventLogType(HINF inf, DriverProgressSink& sink) {
  INFCONTEXT line;
  if (!FindAddService(inf, line, sink)) return std::nullopt;
  std::wstring type = ReadInfField(line, 5).value_or(L"System");
  ReportInfo(sink, L"Found event log type:'%s'.", type.c_str());
  return type;
}

UINT RemoveInfRegistry(HINF inf, const RemoveRegistryAction& action, const std::wstring& serviceName) {
  DriverProgressSink& sink = action.sink();
  INFCONTEXT line;
  if (SetupFindFirstLineW(inf, L"DefaultInstall", L"AddReg", &line)) {
    const UINT result = RemoveAddRegSections(inf, action, nullptr, nullptr, line);
    if (result != ERROR_SUCCESS && !action.ignoreErrors()) return result;
  } else {
    ReportInfo(sink, L"No files found 'DefaultInstall.AddReg'");
  }

  const std::optional<std::wstring> section = GetEventLogSection(inf, sink);
  if (!section) return ERROR_SUCCESS;
  const std::optional<std::wstring> type = GetEventLogType(inf, sink);
  if (!type) return ERROR_SUCCESS;
  const std::wstring prefix =
      L"System\\CurrentControlSet\\Services\\EventLog\\" + *type + L"\\" + serviceName;

  UINT result = ERROR_SUCCESS;
  if (SetupFindFirstLineW(inf, section->c_str(), L"AddReg", &line))
    result = RemoveAddRegSections(inf, action, HKEY_LOCAL_MACHINE, prefix.c_str(), line);
  else
    ReportInfo(sink, L"No files found 'DefaultInstall.AddReg'");
  return action.ignoreErrors() ? ERROR_SUCCESS : result;
}

}  // namespace kvca
