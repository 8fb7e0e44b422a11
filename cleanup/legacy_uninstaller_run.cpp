// Running an older product's uninstaller and reading its verdict: the exit
// code is only logged, the "ResultCode=" line of its log decides.
#include "cleanup/legacy_uninstall.h"

#include "frame/handles.h"
#include "frame/installer.h"

#include <cstdlib>
#include <cstring>

namespace kvca {

// The last-error code of a failed call is read in a statement of its own:
// the texts passed beside it become strings first, which may allocate.
UINT RunUninstall(MSIHANDLE install, std::wstring commandLine) {
  static const wchar_t kSource[] = L"RunUninstall";
  LogInfo(install, commandLine);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    const DWORD code = GetLastError();
    ReportErrorRecord(install, kSource, L"CreateProcess() fail: ", code);
    return ERROR_INSTALL_FAILURE;
  }
  KernelHandle process(started.hProcess);
  KernelHandle thread(started.hThread);

  if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
    const DWORD code = GetLastError();
    ReportErrorRecord(install, kSource, L"WaitForSingleObject() fail", code);
    return ERROR_INSTALL_FAILURE;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    const DWORD code = GetLastError();
    ReportErrorRecord(install, kSource, L"GetExitCodeProcess() fail", code);
    return ERROR_INSTALL_FAILURE;
  }
  process.reset();
  thread.reset();
  LogInfo(install, L"ExitCode: [1]", exitCode);
  return ERROR_SUCCESS;
}

// The failure code of a step of GetResultCode: the thread's last error. Where no
// system call failed (no memory, no number in the log) it may be 0, which must
// not read as success, so the step's own code stands in for it.
static DWORD Failure(MSIHANDLE install, const wchar_t* text, DWORD fallback) {
  DWORD code = GetLastError();
  if (code == ERROR_SUCCESS) code = fallback;
  ReportErrorRecord(install, L"GetResultCode", text, code);
  return code;
}

// The number after the first "ResultCode=" of the log's 8-bit text, read as
// "%d" reads it: blanks skipped, a sign, decimal digits, clamped to the range
// of int. strtol rather than sscanf, whose C99 version would bring a whole
// scanf with floating point into the DLL.
static bool FindResultCode(const char* text, int& resultCode) {
  static const char kKey[] = "ResultCode=";
  const char* found = std::strstr(text, kKey);
  if (found == nullptr) return false;
  const char* number = found + sizeof kKey - 1;
  char* end = nullptr;
  const long value = std::strtol(number, &end, 10);
  if (end == number) return false;
  resultCode = static_cast<int>(value);
  return true;
}

DWORD GetResultCode(MSIHANDLE install, const wchar_t* logPath) {
  FileHandle log(CreateFileW(logPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return Failure(install, L"CreateFile() fail", ERROR_OPEN_FAILED);

  const DWORD size = GetFileSize(log.get(), nullptr);
  std::unique_ptr<char[]> text = TryAllocate<char>(static_cast<size_t>(size) + 2);
  if (!text) return Failure(install, L"Out of memmory", ERROR_NOT_ENOUGH_MEMORY);

  DWORD read = 0;
  if (!ReadFile(log.get(), text.get(), size, &read, nullptr))
    return Failure(install, L"ReadFile() fail", ERROR_READ_FAULT);
  text[read] = '\0';
  text[read + 1] = '\0';

  int resultCode = 0;
  if (!FindResultCode(text.get(), resultCode))
    return Failure(install, L"sscanf() fail. ResultCode is unknown", ERROR_INVALID_DATA);

  LogInfo(install, L"ResultCode = [1]", static_cast<DWORD>(resultCode));
  if (resultCode == 0) return ERROR_SUCCESS;
  ReportErrorRecord(install, L"GetResultCode", L"ResultCode = [1]", static_cast<DWORD>(resultCode));
  return static_cast<DWORD>(NTE_FAIL);
}

}  // namespace kvca
