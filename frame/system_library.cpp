#include "frame/system_library.h"

#include <delayimp.h>

#include <string>

#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

// A bare name would also find a library of that name beside the program or in
// the current folder first.
HMODULE LoadFromSystemFolder(const wchar_t* library) {
  return LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

DWORD LoadSystemLibrary(const wchar_t* library) {
  ModuleHandle module(LoadFromSystemFolder(library));
  if (module) return ERROR_SUCCESS;
  const DWORD code = GetLastError();
  return code != ERROR_SUCCESS ? code : ERROR_MOD_NOT_FOUND;
}

bool SystemLibraryLoads(MSIHANDLE install, const wchar_t* source, const wchar_t* library) {
  const DWORD code = LoadSystemLibrary(library);
  if (code == ERROR_SUCCESS) return true;
  ReportErrorRecord(install, source, std::wstring(L"LoadLibrary ") + library, code);
  return false;
}

// The delay-load helper asks this hook before it loads a library itself, by
// its bare name. The hook hands it the library from the system folder; when
// that does not load, the hook raises the exception the helper raises for a
// library that does not load, so that the helper never searches by name. It
// runs inside the helper: no allocation, no C++ exception.
static FARPROC WINAPI LoadDelayedLibrary(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  wchar_t name[MAX_PATH];
  size_t length = 0;
  for (; info->szDll[length] != '\0' && length + 1 < MAX_PATH; ++length)
    name[length] = static_cast<unsigned char>(info->szDll[length]);
  name[length] = L'\0';
  const HMODULE module = LoadFromSystemFolder(name);
  if (module == nullptr) {
    info->dwLastError = GetLastError();
    ULONG_PTR arguments[1] = {reinterpret_cast<ULONG_PTR>(info)};
    RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, arguments);
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace kvca

// Declared with C linkage by <delayimp.h>.
PfnDliHook __pfnDliNotifyHook2 = kvca::LoadDelayedLibrary;
