// DelSecurityProviders30KC1: takes the product's provider library out of the
// system's comma-separated "SecurityProviders" list.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/registry.h"
#include "frame/wide.h"

namespace kvca {

static const wchar_t kProvidersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\SecurityProviders";
static const wchar_t kProvidersValue[] = L"SecurityProviders";

// Removes every ", kvssp.dll" (exact case). A list that cannot be read counts as
// empty: nothing to remove. Once something was removed, the list is written
// back as REG_SZ through a key opened for writing; the result ORs the codes of
// the first open, the read, the close, the second open and the write. The
// write is tried also when the second open failed: it then fails on the
// missing key, and its code counts too.
static LONG RemoveProviderLibrary() {
  RegKey key;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProvidersKey, 0, KEY_READ, key.put());
  std::wstring providers;
  const LONG read = ReadRegString(key.get(), kProvidersValue, providers);
  if (ReplaceAll(providers, L", kvssp.dll", L"") == 0) return ERROR_SUCCESS;

  const LONG closed = RegCloseKey(key.release());
  const LONG reopened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProvidersKey, 0, KEY_ALL_ACCESS, key.put());
  const LONG written = WriteRegString(key.get(), kProvidersValue, providers);
  return opened | read | closed | reopened | written;
}

}  // namespace kvca

KVCA_ACTION DelSecurityProviders30KC1(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::RemoveProviderLibrary(); });
}
