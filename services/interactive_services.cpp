// EnableInteractiveServices: lets services interact with the desktop by
// clearing the system's "NoInteractiveServices" switch.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/registry.h"

namespace kvca {

static const wchar_t kWindowsControlKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Windows";

static UINT AllowInteractiveServices() {
  RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWindowsControlKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  WriteRegDword(key.get(), L"NoInteractiveServices", 0);
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION EnableInteractiveServices(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::AllowInteractiveServices(); });
}
