// SetupCSPTest: runs the command line that the package gives as
// CustomActionData and waits for it to end. The program's exit code is its own
// business: the action only proves that it ran.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

static const wchar_t kSource[] = L"SetupCSPTest";
// A command line of at most 259 characters and its terminator.
static const DWORD kCommandCapacity = MAX_PATH;

// Record 25030 of the package's Error table: the program could not be started.
static void ReportNotStarted(MSIHANDLE install) {
  MsiHandle record(MsiCreateRecord(1));
  if (!record) return;
  MsiRecordSetInteger(record.get(), 1, 25030);
  MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record.get());
}

static UINT RunCommandLine(MSIHANDLE install) {
  wchar_t commandLine[kCommandCapacity] = {};
  const UINT read = ReadPropertyFixed(install, L"CustomActionData", commandLine, kCommandCapacity);
  if (read != ERROR_SUCCESS) {
    ReportErrorRecord(install, kSource, L"MsiGetProperty", read);
    return ERROR_INSTALL_FAILURE;
  }
  LogInfo(install, commandLine);
  LogInfo(install, L"CreateProcess()...");

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    const DWORD code = GetLastError();
    LogInfo(install, L"CreateProcess() failed: [1]", code);
    ReportNotStarted(install);
    return ERROR_INSTALL_FAILURE;
  }
  KernelHandle process(started.hProcess);
  KernelHandle thread(started.hThread);

  LogInfo(install, L"WaitForSingleObject()...");
  if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
    const DWORD code = GetLastError();
    ReportErrorRecord(install, kSource, L"WaitForSingleObject", code);
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION SetupCSPTest(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::RunCommandLine(install); });
}
