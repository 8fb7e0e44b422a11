// RemoveAppPaths: deletes the CSP's registered application paths that point at
// a file of this product, or of three components that other products share.
#include <cwchar>
#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

static const wchar_t kAppPathKey[] = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion\\AppPath";

// Taken for every client product, in this order.
static const wchar_t* const kSharedComponents[] = {L"{0D6C5C21-9C9E-4394-8802-24F00FF36467}",
                                                   L"{9C3D93E3-1971-4B78-9588-EAB233CCB1DA}",
                                                   L"{4CBE4BB1-EEC3-4EBD-882C-FD787E3F9DD6}"};

// Product and component codes: 38 characters and the terminator.
using Guid = wchar_t[39];

static bool IsShared(const std::wstring& component) {
  for (const wchar_t* shared : kSharedComponents)
    if (component == shared) return true;
  return false;
}

// Deletes the first AppPath subkey, in enumeration order, whose default value
// is exactly `path`; later ones stay for a later pass.
static void DeleteFirstAppPath(const wchar_t* path) {
  RegKey appPaths;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppPathKey, 0, KEY_ALL_ACCESS, appPaths.put()) != ERROR_SUCCESS)
    return;
  wchar_t name[MAX_PATH + 1];
  for (DWORD index = 0; RegEnumKeyW(appPaths.get(), index, name, MAX_PATH + 1) == ERROR_SUCCESS; ++index) {
    // 520 bytes of data; the extra character keeps a full buffer terminated.
    wchar_t value[MAX_PATH + 1] = {};
    LONG size = MAX_PATH * sizeof(wchar_t);
    if (RegQueryValueW(appPaths.get(), name, value, &size) != ERROR_SUCCESS) continue;
    if (std::wcscmp(value, path) == 0) {
      RegDeleteKeyW(appPaths.get(), name);
      return;
    }
  }
}

static void RemoveClientAppPath(const wchar_t* component, const wchar_t* client) {
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (MsiGetComponentPathW(client, component, path, &size) != INSTALLSTATE_LOCAL) return;
  DeleteFirstAppPath(path);
}

static UINT RemoveProductAppPaths(MSIHANDLE install) {
  std::wstring productCode;
  if (ReadProperty(install, L"ProductCode", productCode) != ERROR_SUCCESS) return ERROR_SUCCESS;

  Guid component;
  for (DWORD c = 0; MsiEnumComponentsW(c, component) == ERROR_SUCCESS; ++c) {
    const bool shared = IsShared(component);
    Guid client;
    for (DWORD p = 0; MsiEnumClientsW(component, p, client) == ERROR_SUCCESS; ++p) {
      if (productCode == client || shared) RemoveClientAppPath(component, client);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION RemoveAppPaths(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::RemoveProductAppPaths(install); });
}
