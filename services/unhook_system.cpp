// UnHookSystem: asks the product's control device to take its hooks out of the
// system. Without the device there is nothing to unhook.
#include "frame/action.h"
#include "frame/handles.h"

#include <winioctl.h>

namespace kvca {

static const wchar_t kControlDevice[] = L"\\\\.\\Global\\KvxCtrl";
static const DWORD kUnhookCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(kUnhookCode == 0x222000, "the driver's control code");

static UINT SendUnhook() {
  FileHandle device(CreateFileW(kControlDevice, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!device) return ERROR_SUCCESS;
  // What the driver answers changes nothing for the installation.
  DWORD returned = 0;
  DeviceIoControl(device.get(), kUnhookCode, nullptr, 0, nullptr, 0, &returned, nullptr);
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION UnHookSystem(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::SendUnhook(); });
}
