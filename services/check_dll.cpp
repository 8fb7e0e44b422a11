// CheckDll: proves that the four system libraries the other actions load on
// first use can be loaded, before any of those actions needs one.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

// In the order they are tried; the first that fails ends the check.
static const wchar_t* const kDelayLoadedLibraries[] = {L"winscard.dll", L"setupapi.dll",
                                                       L"secur32.dll", L"crypt32.dll"};

// Record 6666 of the package's Error table: library name and load error.
static void ReportLoadFailure(MSIHANDLE install, const wchar_t* library, DWORD code) {
  MsiHandle record(MsiCreateRecord(3));
  if (!record) return;
  MsiRecordSetInteger(record.get(), 1, 6666);
  MsiRecordSetStringW(record.get(), 2, library);
  MsiRecordSetInteger(record.get(), 3, static_cast<int>(code));
  MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record.get());
}

// Result: 0, or the Win32 code of the first library that did not load.
static UINT CheckLibraries(MSIHANDLE install) {
  for (const wchar_t* library : kDelayLoadedLibraries) {
    ModuleHandle module(LoadLibraryW(library));
    if (!module) {
      const DWORD code = GetLastError();
      ReportLoadFailure(install, library, code);
      return code;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION CheckDll(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::CheckLibraries(install); });
}
