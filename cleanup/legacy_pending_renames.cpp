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

// A pending-rename list is read in pairs: source, then destination (empty for
// a delete). Empty entries after the last non-empty one are no pairs' members
// but the way some tools write an empty or closed list: they go, except the
// one that completes a delete. A list that still has an odd number of entries
// ends with a source whose destination is missing; it is kept apart, so that
// what is appended after the pairs starts on a pair of its own.
struct RenamePairs {
  std::wstring pairs;     // whole pairs, each entry followed by its NUL
  std::wstring unpaired;  // the last source of an odd list with its NUL, or empty
};

static RenamePairs SplitIntoPairs(const std::wstring& entries) {
  // An entry is empty when its NUL stands first or follows another NUL.
  size_t end = entries.size();
  while (end > 0 && (end == 1 || entries[end - 2] == L'\0')) --end;
  const bool trimmed = end < entries.size();
  const size_t count = static_cast<size_t>(std::count(entries.begin(), entries.begin() + end, L'\0'));
  RenamePairs split;
  if (count % 2 == 0) {
    split.pairs = entries.substr(0, end);
  } else if (trimmed) {
    split.pairs = entries.substr(0, end + 1);
  } else {
    const size_t before = entries.rfind(L'\0', end - 2);
    const size_t start = before == std::wstring::npos ? 0 : before + 1;
    split.pairs = entries.substr(0, start);
    split.unpaired = entries.substr(start, end - start);
  }
  return split;
}

// The saved pairs, then those added during the run, then the unpaired sources
// of both lists in that order.
static std::wstring MergePendingRenames(const std::wstring& saved, const std::wstring& added) {
  const RenamePairs before = SplitIntoPairs(saved);
  const RenamePairs during = SplitIntoPairs(added);
  return before.pairs + during.pairs + before.unpaired + during.unpaired;
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

  std::wstring added;
  if (ReadPendingRenames(key.get(), added) != ERROR_SUCCESS) added.clear();

  const LONG written = WritePendingRenames(key.get(), MergePendingRenames(saved, added));
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
    std::wstring added;
    if (ReadPendingRenames(key.get(), added) != ERROR_SUCCESS) added.clear();
    WritePendingRenames(key.get(), MergePendingRenames(saved, added));
    return;
  } catch (...) {
  }
  WritePendingRenames(key.get(), saved);
}

}  // namespace kvca
