// MsiGetShortPathName: replaces INSTALLDIR64 by its short (8.3) form.
#include <string>

#include "frame/action.h"
#include "frame/installer.h"

namespace kvca {

// A folder that is not on disk yet has no short form: INSTALLDIR64 stays.
static UINT ShortenInstallFolder(MSIHANDLE install) {
  std::wstring folder;
  if (const UINT read = ReadProperty(install, L"INSTALLDIR64", folder)) return read;

  const DWORD needed = GetShortPathNameW(folder.c_str(), nullptr, 0);
  std::wstring shortForm(needed, L'\0');
  const DWORD converted = GetShortPathNameW(folder.c_str(), &shortForm[0], needed);
  if (converted == 0 || converted >= needed) return ERROR_SUCCESS;
  shortForm.resize(converted);
  return MsiSetPropertyW(install, L"INSTALLDIR64", shortForm.c_str());
}

}  // namespace kvca

KVCA_ACTION MsiGetShortPathName(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::ShortenInstallFolder(install); });
}
