#include "drivers/cleanup_actions.h"

#include <memory>
#include <new>

#include "frame/handles.h"

namespace kvca {

UINT RemoveFileAction::Apply(const wchar_t* path) const {
  return RemoveFile(path, sink()) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT RemoveRegistryAction::Apply(HKEY root, const std::wstring& subkey,
                                 const std::wstring& valueName) const {
  RegKey key;
  LONG result = RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE, key.put());
  if (result == ERROR_SUCCESS) result = RegDeleteValueW(key.get(), valueName.c_str());
  if (result != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(result));
    return ERROR_INSTALL_FAILURE;
  }
  key.reset();
  RemoveEmptyKeys(root, subkey, sink());
  return ERROR_SUCCESS;
}

namespace {

// The folder part of the file's full path, ending with a backslash.
bool FileFolder(const wchar_t* path, std::wstring& folder, DriverProgressSink& sink) {
  wchar_t probe[1];
  const DWORD length = GetFullPathNameW(path, 1, probe, nullptr);
  if (length == 0) {
    ReportInfo(sink, L"GetFullPathName(1) for file:%s fail.", path);
    return false;
  }
  std::unique_ptr<wchar_t[]> full(new (std::nothrow) wchar_t[length]());
  wchar_t* filePart = nullptr;
  if (!full || GetFullPathNameW(path, length, full.get(), &filePart) == 0) {
    ReportInfo(sink, L"GetFullPathName(2) for file:%s fail.", path);
    return false;
  }
  if (filePart) *filePart = L'\0';
  folder = full.get();
  return true;
}

}  // namespace

bool RemoveFile(const wchar_t* path, DriverProgressSink& sink) {
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) && GetLastError() == ERROR_FILE_NOT_FOUND) {
    ReportInfo(sink, L"No files to remove: %s", path);
    return true;
  }
  if (DeleteFileW(path)) return true;
  ReportInfo(sink, L"File:%s couldn't be deleted.", path);

  std::wstring folder;
  if (!FileFolder(path, folder, sink)) return false;
  wchar_t temporary[MAX_PATH];
  if (GetTempFileNameW(folder.c_str(), L"csp", 0, temporary) == 0) {
    ReportInfo(sink, L"GetTempFileName for file:%s fail.", path);
    return false;
  }
  if (!MoveFileExW(path, temporary, MOVEFILE_REPLACE_EXISTING)) {
    ReportInfo(sink, L"MoveFileEx from file:%s to %s fail.", path, temporary);
    return false;
  }
  if (!MoveFileExW(temporary, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    ReportInfo(sink, L"MoveFileEx from file:%s to NULL fail.", temporary);
    return false;
  }
  ReportInfo(sink, L"File:%s success mark delete at reboot.", path);
  return true;
}

namespace {

bool IsEmptyKey(HKEY root, const std::wstring& path) {
  RegKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subkeys == 0 && values == 0;
}

}  // namespace

void RemoveEmptyKeys(HKEY root, const std::wstring& path, DriverProgressSink& sink) {
  std::wstring current = path;
  while (IsEmptyKey(root, current)) {
    const size_t lastBackslash = current.rfind(L'\\');
    const bool hasParent = lastBackslash != std::wstring::npos;
    const std::wstring parentPath = hasParent ? current.substr(0, lastBackslash) : std::wstring();
    const std::wstring leaf = hasParent ? current.substr(lastBackslash + 1) : current;

    RegKey parent;
    if (RegOpenKeyExW(root, parentPath.c_str(), 0, KEY_QUERY_VALUE, parent.put()) != ERROR_SUCCESS)
      return;
    if (RegDeleteKeyW(parent.get(), leaf.c_str()) != ERROR_SUCCESS) return;
    ReportInfo(sink, L"Empty key '%s' removed.", current.c_str());
    if (!hasParent) return;
    current = parentPath;
  }
}

}  // namespace kvca
