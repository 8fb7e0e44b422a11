#include "drivers/driver_registry.h"
#include "drivers/progress_sink.h"

#include <msiquery.h>

#include "frame/handles.h"
#include "frame/registry.h"

namespace kvca {

static void Send(MSIHANDLE install, INSTALLMESSAGE type, const MsiHandle& record) {
  if (record) MsiProcessMessage(install, type, record.get());
}

void InstallerProgressSink::OnRebootNeeded() {
  ReportInfo(*this, L"Set reboot action.");
  RegKey key;
  const LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRebootMarkerKey, 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(),
                                      nullptr);
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    ReportError(*this, L"Can't save reboot needed.");
    return;
  }
  WriteRegString(key.get(), kRebootMarkerValue, L"Force");
}

void InstallerProgressSink::OnInfo(const wchar_t* text) {
  MsiHandle record(MsiCreateRecord(2));
  if (!record) return;
  MsiRecordSetStringW(record.get(), 0, L"KSInstall64:info: [1]");
  MsiRecordSetStringW(record.get(), 1, text);
  Send(install_, INSTALLMESSAGE_INFO, record);
}

void InstallerProgressSink::OnError(const wchar_t* text) {
  const DWORD code = GetLastError();
  MsiHandle line(MsiCreateRecord(3));
  if (line) {
    MsiRecordSetStringW(line.get(), 0, L"KSInstall64:error #[1]:[2]");
    MsiRecordSetInteger(line.get(), 1, static_cast<int>(code));
    MsiRecordSetStringW(line.get(), 2, text);
    Send(install_, INSTALLMESSAGE_INFO, line);
  }
  // Field 0 empty: the installer takes the text of 25002 from the Error table.
  MsiHandle error(MsiCreateRecord(1));
  if (error) {
    MsiRecordSetInteger(error.get(), 1, 25002);
    Send(install_, INSTALLMESSAGE_ERROR, error);
  }
}

void InstallerProgressSink::OnErrorRebootNeeded() {}

}  // namespace kvca
