// version_info FILE...: per file, its name, the fixed part of its version
// resource (file and product version, file type) and every string of its
// first language, as GetFileVersionInfoW and VerQueryValueW return them; of an
// installation package (.msi), its ProductVersion property.
#include <windows.h>

#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const kStrings[] = {L"CompanyName",      L"FileDescription", L"FileVersion",
                                   L"InternalName",     L"LegalCopyright",  L"OriginalFilename",
                                   L"ProductName",      L"ProductVersion"};

std::wstring Numbers(DWORD high, DWORD low) {
  return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
         std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

bool PrintPackage(const wchar_t* path, const wchar_t* name) {
  MSIHANDLE database = 0, view = 0, record = 0;
  UINT result = MsiOpenDatabaseW(path, MSIDBOPEN_READONLY, &database);
  if (result == ERROR_SUCCESS)
    result = MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'",
                                  &view);
  if (result == ERROR_SUCCESS) result = MsiViewExecute(view, 0);
  if (result == ERROR_SUCCESS) result = MsiViewFetch(view, &record);
  wchar_t value[64] = L"";
  DWORD size = 64;
  if (result == ERROR_SUCCESS) result = MsiRecordGetStringW(record, 1, value, &size);
  if (result == ERROR_SUCCESS)
    wprintf(L"%ls: ProductVersion %ls\n", name, value);
  else
    wprintf(L"%ls: no ProductVersion (%u)\n", name, result);
  for (MSIHANDLE handle : {record, view, database})
    if (handle) MsiCloseHandle(handle);
  return result == ERROR_SUCCESS;
}

bool Print(const wchar_t* path) {
  const wchar_t* name = wcsrchr(path, L'\\');
  name = name ? name + 1 : path;
  const wchar_t* extension = wcsrchr(name, L'.');
  if (extension && _wcsicmp(extension, L".msi") == 0) return PrintPackage(path, name);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    wprintf(L"%ls: no version resource (%lu)\n", name, GetLastError());
    return false;
  }
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) {
    wprintf(L"%ls: GetFileVersionInfoW %lu\n", name, GetLastError());
    return false;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
    wprintf(L"%ls: no fixed version\n", name);
    return false;
  }
  const wchar_t* type = fixed->dwFileType == VFT_DLL ? L"dll" : fixed->dwFileType == VFT_APP ? L"app" : L"other";
  wprintf(L"%ls: file %ls, product %ls, %ls\n", name,
          Numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
          Numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str(), type);
  WORD* translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &length) || length < 2 * sizeof(WORD)) {
    wprintf(L"  no translation\n");
    return false;
  }
  wchar_t language[16];
  swprintf(language, 16, L"%04x%04x", translation[0], translation[1]);
  wprintf(L"  language %ls\n", language);
  bool complete = true;
  for (const wchar_t* key : kStrings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\") + language + L"\\" + key;
    wchar_t* value = nullptr;
    if (VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
      wprintf(L"  %ls: %ls\n", key, value);
    } else {
      wprintf(L"  %ls: missing\n", key);
      complete = false;
    }
  }
  return complete;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) failed += Print(argv[i]) ? 0 : 1;
  return failed;
}
