// The system's pending file renames: read into memory before an older
// product's uninstaller runs, written back afterwards with what it added.
// The registry functions return their error instead of setting the thread's
// last error, so a failed registry step reports the code it returned.
#include "cleanup/legacy_uninstall.h"

#include "frame/handles.h"
#include "frame/installer.h"

#include <algorithm>

namespace kvca {

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\";
const wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

static const wchar_t kSource[] = L"RevertReg";

LONG ReadPendingRenames(HKEY key, std::wstring& entries) {
  DWORD type = 0;
  DWORD bytes = 0;
  LONG result = RegQueryValueExW(key, kPendingRenamesValue, nullptr, &type, nullptr, &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;

  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  result = RegQueryValueExW(key, kPendingRenamesValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data[0]), &bytes);
  if (result != ERROR_SUCCESS) return result;
  const size_t count = bytes / sizeof(wchar_t);
  if (count < 2) {
    entries.clear();
    return ERROR_SUCCESS;
  }
  if (bytes % sizeof(wchar_t) != 0 || data[count - 1] != L'\0' || data[count - 2] != L'\0')
    return ERROR_INVALID_DATA;
  entries = data.substr(0, count - 1);
  return ERROR_SUCCESS;
}

// Every entry of `entries` on a line of the installer log. The log line is a
// formatted template, so brackets and braces in a path are escaped.
static void LogEntries(MSIHANDLE install, const std::wstring& entries) {
  for (size_t at = 0; at < entries.size();) {
    const size_t end = std::min(entries.find(L'\0', at), entries.size());
    std::wstring line = L"Not written back to \"PendingFileRenameOperations\": ";
    for (wchar_t ch : entries.substr(at, end - at)) {
      if (ch == L'[' || ch == L']' || ch == L'{' || ch == L'}')
        line += std::wstring(L"[\\") + ch + L"]";
      else
        line += ch;
    }
    LogInfo(install, line);
    at = end + 1;
  }
}

// The text's own terminator closes the multi-string.
static LONG WritePendingRenames(HKEY key, const std::wstring& entries) {
  const DWORD bytes = static_cast<DWORD>((entries.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, kPendingRenamesValue, 0, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE*>(entries.c_str()), bytes);
}

DWORD RevertReg(MSIHANDLE install, const wchar_t* keyPath, const std::wstring& saved) {
  RegKey key;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, key.put());
  if (opened != ERROR_SUCCESS) {
    // The saved entries are no longer anywhere in the registry: rather than
    // drop them quietly, fail and leave every entry in the installer log, where
    // a person can put them back.
    ReportErrorRecord(install, kSource,
                      L"Can't open reg key HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\",
                      opened);
    LogEntries(install, saved);
    return opened;
  }

  std::wstring merged = saved;
  std::wstring added;
  if (ReadPendingRenames(key.get(), added) == ERROR_SUCCESS && !added.empty()) merged += added;

  const LONG written = WritePendingRenames(key.get(), merged);
  if (written != ERROR_SUCCESS) {
    ReportErrorRecord(install, kSource, L"error SetMultiStringValue \"PendingFileRenameOperations\"",
                      written);
    LogEntries(install, saved);
    return written;
  }
  return ERROR_SUCCESS;
}

void PutBackPendingRenames(const std::wstring& saved) noexcept {
  RegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return;
  try {
    std::wstring merged = saved;
    std::wstring added;
    if (ReadPendingRenames(key.get(), added) == ERROR_SUCCESS) merged += added;
    WritePendingRenames(key.get(), merged);
    return;
  } catch (...) {
  }
  WritePendingRenames(key.get(), saved);
}

}  // namespace kvca
