// GetCSPProgramW6432Dir: sets the property of that name to the CSP's folder
// under the 64-bit program files folder that the system records.
#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/registry.h"

namespace kvca {

static const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// The registry result is the OR of the open, read and close codes, so that
// any of them failing makes it non-zero; the folder is taken as stored.
static UINT SetCspProgramFolder(MSIHANDLE install) {
  RegKey key;
  const LONG opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
  std::wstring folder;
  const LONG read = ReadRegString(key.get(), L"ProgramW6432Dir", folder);
  const LONG closed = key ? RegCloseKey(key.release()) : ERROR_SUCCESS;
  if (const LONG failed = opened | read | closed) return static_cast<UINT>(failed);

  folder += L"\\Korvex\\CSP\\";
  return MsiSetPropertyW(install, L"GetCSPProgramW6432Dir", folder.c_str());
}

}  // namespace kvca

KVCA_ACTION GetCSPProgramW6432Dir(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::SetCspProgramFolder(install); });
}
