// RebuildIconCache: schedules every user profile's icon cache for deletion at
// the next restart, then deletes the current user's "Controls Folder" key.
#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/registry.h"

namespace kvca {

static const wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Where a profile keeps its local application data, by the major version of
// the running Windows.
static const wchar_t* LocalAppDataPart() {
  return LOBYTE(LOWORD(GetVersion())) >= 6 ? L"\\AppData\\Local\\" : L"\\Local Settings\\Application Data\\";
}

static bool ExpandReferences(const std::wstring& text, std::wstring& expanded) {
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::wstring buffer(needed, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), &buffer[0], needed);
  if (written == 0 || written > needed) return false;
  buffer.resize(written - 1);
  expanded = std::move(buffer);
  return true;
}

// A profile that cannot be opened, has no readable "ProfileImagePath" or
// whose path cannot be expanded is passed over.
static void ScheduleIconCacheDeletion(MSIHANDLE install, HKEY profiles, const std::wstring& profile,
                                      const wchar_t* localAppData) {
  RegKey key;
  if (RegOpenKeyExW(profiles, profile.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
  std::wstring imagePath;
  if (ReadRegString(key.get(), L"ProfileImagePath", imagePath) != ERROR_SUCCESS) return;
  std::wstring iconCache;
  if (!ExpandReferences(imagePath, iconCache)) return;
  iconCache += localAppData;
  iconCache += L"IconCache.db";

  LogInfo(install, L"Clean IconCache for path: ");
  LogInfo(install, iconCache);
  MoveFileExW(iconCache.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

static void DeleteControlsFolder() {
  RegKey currentVersion;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS,
                    currentVersion.put()) == ERROR_SUCCESS)
    RegDeleteKeyW(currentVersion.get(), L"Controls Folder");
}

// A profile list that opens but cannot be queried ends the action before
// "Controls Folder"; one that does not open at all does not.
static UINT CleanIconCaches(MSIHANDLE install) {
  RegKey profiles;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_ALL_ACCESS, profiles.put()) == ERROR_SUCCESS) {
    const wchar_t* localAppData = LocalAppDataPart();
    DWORD longest = 0;
    if (RegQueryInfoKeyW(profiles.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
      std::wstring buffer(static_cast<size_t>(longest) + 1, L'\0');
      DWORD length = longest + 1;
      if (RegEnumKeyExW(profiles.get(), index, &buffer[0], &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      buffer.resize(length);
      ScheduleIconCacheDeletion(install, profiles.get(), buffer, localAppData);
    }
  }
  DeleteControlsFolder();
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION RebuildIconCache(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::CleanIconCaches(install); });
}
