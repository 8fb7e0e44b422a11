#include "frame/system_library.h"

#include <string>

#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

DWORD LoadSystemLibrary(const wchar_t* library) {
  ModuleHandle module(LoadLibraryW(library));
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

}  // namespace kvca
