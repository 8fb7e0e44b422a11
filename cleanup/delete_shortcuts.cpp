// DeleteShortcuts: removes the stored passwords (one subkey each) below
// "KeyDevices\passwords" in the CSP's machine-wide settings and in the
// settings of every user listed under its "Users" key.
#include <string>

#include "frame/action.h"
#include "frame/handles.h"

namespace kvca {

static const wchar_t kSettingsPath[] = L"SOFTWARE\\Korvex\\Settings\\";

// Length of the longest subkey name of an open key, without its terminator.
static bool LongestSubkeyName(HKEY key, DWORD& length) {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &length, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

static bool SubkeyName(HKEY key, DWORD index, DWORD longest, std::wstring& name) {
  std::wstring buffer(static_cast<size_t>(longest) + 1, L'\0');
  DWORD length = longest + 1;
  if (RegEnumKeyExW(key, index, &buffer[0], &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  buffer.resize(length);
  name = std::move(buffer);
  return true;
}

// The first direct subkey, in enumeration order, that has no subkeys of its
// own. Empty when there is none, and also when a subkey on the way cannot be
// opened for full access or queried.
static std::wstring FirstLeafSubkey(HKEY key) {
  DWORD longest = 0;
  if (!LongestSubkeyName(key, longest)) return {};
  std::wstring name;
  for (DWORD index = 0; SubkeyName(key, index, longest, name); ++index) {
    RegKey subkey;
    if (RegOpenKeyExW(key, name.c_str(), 0, KEY_ALL_ACCESS, subkey.put()) != ERROR_SUCCESS) return {};
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(subkey.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return {};
    if (subkeys == 0) return name;
  }
  return {};
}

// Deletes the leaf subkeys of HKLM\<settingsPath>KeyDevices\passwords, one at
// a time, each search starting over from the first subkey. Subkeys with
// subkeys of their own and the key's values stay.
//
// A leaf that cannot be deleted ends the walk rather than being skipped: the
// next search would find that same leaf first, so skipping it would mean
// carrying a list of names to pass over. A key that opens for full access
// and still cannot be deleted is being changed by someone else at that very
// moment; the search already ends at a subkey it cannot open, and this treats
// both alike. Whatever is left goes at the next removal.
static void CleanPasswords(const std::wstring& settingsPath) {
  RegKey passwords;
  const std::wstring path = settingsPath + L"KeyDevices\\passwords";
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, passwords.put()) != ERROR_SUCCESS)
    return;
  for (std::wstring leaf = FirstLeafSubkey(passwords.get()); !leaf.empty();
       leaf = FirstLeafSubkey(passwords.get())) {
    if (RegDeleteKeyW(passwords.get(), leaf.c_str()) != ERROR_SUCCESS) return;
  }
}

static UINT DeleteStoredPasswords() {
  CleanPasswords(kSettingsPath);

  const std::wstring usersPath = std::wstring(kSettingsPath) + L"Users";
  RegKey users;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, usersPath.c_str(), 0, KEY_ALL_ACCESS, users.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  DWORD longest = 0;
  if (!LongestSubkeyName(users.get(), longest)) return ERROR_SUCCESS;
  std::wstring user;
  for (DWORD index = 0; SubkeyName(users.get(), index, longest, user); ++index)
    CleanPasswords(usersPath + L"\\" + user + L"\\");
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION DeleteShortcuts(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::DeleteStoredPasswords(); });
}
