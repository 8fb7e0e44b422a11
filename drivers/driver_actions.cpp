// The driver actions of the installation script (install, uninstall, rollback,
// reboot-marker cleanup) and the two command-line entry points for rundll32.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drivers/action_data.h"
#include "drivers/cleanup_actions.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_install.h"
#include "drivers/inf_uninstall.h"
#include "drivers/progress.h"
#include "drivers/progress_sink.h"
#include "frame/action.h"
#include "frame/system_library.h"

namespace kvca {

// The removal looks SetupAPI functions up by name in the loaded module, so the
// module is loaded here and stays loaded for the life of the process.
static void KeepSetupApiLoaded() { LoadLibraryW(L"setupapi.dll"); }

static const wchar_t kSetupApi[] = L"setupapi.dll";

// The command-line forms' check of SetupAPI: a library that does not load is
// an error line of the log.
static bool SetupApiLoads(DriverProgressSink& sink) {
  const DWORD code = LoadSystemLibrary(kSetupApi);
  if (code == ERROR_SUCCESS) return true;
  SetLastError(code);
  ReportError(sink, L"LoadLibrary %s", kSetupApi);
  return false;
}

static UINT InstallFromActionData(MSIHANDLE install) {
  KeepSetupApiLoaded();
  InstallerProgressSink sink(install);
  DriverActionData data;
  if (!ParseDriverActionData(install, data)) return ERROR_INSTALL_FAILURE;
  const UINT result = InstallInfDriver(data.infPath, data.componentId, nullptr, data.flags, sink);
  SendProgress(install, static_cast<int>(data.progressTicks));
  return result == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Failed removal steps are in the log; only unreadable data fails the action.
static UINT UninstallFromActionData(MSIHANDLE install) {
  KeepSetupApiLoaded();
  InstallerProgressSink sink(install);
  DriverActionData data;
  if (!ParseDriverActionData(install, data)) return ERROR_INSTALL_FAILURE;
  UninstallInfDriver(data.componentId, nullptr, data.flags, sink);
  SendProgress(install, static_cast<int>(data.progressTicks));
  return ERROR_SUCCESS;
}

// Deletes "Reboot" and the marker key with every ancestor it leaves empty,
// without asking for a restart. A missing marker is no failure.
static UINT DeleteRebootMarker(MSIHANDLE install) {
  InstallerProgressSink sink(install);
  RemoveRegistryAction action(sink, true);
  action.Apply(HKEY_LOCAL_MACHINE, kRebootMarkerKey, kRebootMarkerValue);
  return ERROR_SUCCESS;
}

// The command line's arguments by CommandLineToArgvW's rules. An empty
// command line has none (CommandLineToArgvW would answer the program's path);
// a line of blanks is one empty argument, as CommandLineToArgvW splits it.
static std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
  std::vector<std::wstring> arguments;
  if (commandLine == nullptr || *commandLine == L'\0') return arguments;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return arguments;
  arguments.assign(argv, argv + count);
  LocalFree(argv);
  return arguments;
}

static std::wstring ArgumentOr(const std::vector<std::wstring>& arguments, size_t index,
                               const wchar_t* fallback) {
  return index < arguments.size() ? arguments[index] : std::wstring(fallback);
}

struct LogFileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using LogFile = std::unique_ptr<FILE, LogFileCloser>;

// The log file argument, emptied; none when absent or when it cannot be opened.
static LogFile OpenLogFile(const std::vector<std::wstring>& arguments, size_t index) {
  if (index >= arguments.size()) return LogFile();
  return LogFile(_wfopen(arguments[index].c_str(), L"wt"));
}

static const wchar_t kDefaultComponentId[] = L"ComponentID";

// INF path [component ID [log file]]; a failed installation is removed again.
static void InstallFromCommandLine(HWND window, const wchar_t* commandLine) {
  const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  const std::wstring componentId = ArgumentOr(arguments, 1, kDefaultComponentId);
  LogFile log = OpenLogFile(arguments, 2);
  ConsoleProgressSink sink(log.get());
  if (arguments.empty() || !SetupApiLoads(sink)) return;
  // No installer rolls this installation back: whatever ends it, memory running
  // out included, what it left is removed here.
  UINT installed = ERROR_INSTALL_FAILURE;
  try {
    installed = InstallInfDriver(arguments[0], componentId, window, 0, sink);
  } catch (...) {
    UninstallInfDriver(componentId, window, 0, sink);
    throw;
  }
  if (installed != ERROR_SUCCESS) UninstallInfDriver(componentId, window, 0, sink);
}

// [component ID [log file]]
static void UninstallFromCommandLine(HWND window, const wchar_t* commandLine) {
  const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
  LogFile log = OpenLogFile(arguments, 1);
  ConsoleProgressSink sink(log.get());
  if (!SetupApiLoads(sink)) return;
  UninstallInfDriver(ArgumentOr(arguments, 0, kDefaultComponentId), window, 0, sink);
}

}  // namespace kvca

KVCA_ACTION KSInstInstall(MSIHANDLE install) {
  return kvca::RunAction([&]() -> UINT {
    if (!kvca::SystemLibraryLoads(install, L"KSInstInstall", kvca::kSetupApi)) return ERROR_INSTALL_FAILURE;
    return kvca::InstallFromActionData(install);
  });
}

KVCA_ACTION KSInstUninstall(MSIHANDLE install) {
  return kvca::RunAction([&]() -> UINT {
    if (!kvca::SystemLibraryLoads(install, L"KSInstUninstall", kvca::kSetupApi)) return ERROR_INSTALL_FAILURE;
    return kvca::UninstallFromActionData(install);
  });
}

// Undoes an installation that failed or was rolled back, with the same data.
KVCA_ACTION KSInstRollback(MSIHANDLE install) {
  return kvca::RunAction([&]() -> UINT {
    if (!kvca::SystemLibraryLoads(install, L"KSInstRollback", kvca::kSetupApi)) return ERROR_INSTALL_FAILURE;
    return kvca::UninstallFromActionData(install);
  });
}

KVCA_ACTION KSInstCleanUp(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::DeleteRebootMarker(install); });
}

// rundll32 entry points: "rundll32 kvca.dll,KSInstall ..." calls KSInstallW
// with a wide command line. Results show only in the log file.
extern "C" void CALLBACK KSInstallW(HWND window, HINSTANCE, LPWSTR commandLine, int) {
  kvca::RunAction([&] {
    kvca::InstallFromCommandLine(window, commandLine);
    return 0u;
  });
}

extern "C" void CALLBACK KSUninstallW(HWND window, HINSTANCE, LPWSTR commandLine, int) {
  kvca::RunAction([&] {
    kvca::UninstallFromCommandLine(window, commandLine);
    return 0u;
  });
}
