#include "support/registry_sandbox.h"

#include <shlwapi.h>

#include <algorithm>
#include <vector>

#include "support/session.h"

namespace kvca::test {

RegistrySandbox::RegistrySandbox() : path_(L"Software\\kvca-tests\\" + UniqueName(L"sandbox_")) {
  RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, machine_.put(), nullptr);
  RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\HKCU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, user_.put(), nullptr);
}

RegistrySandbox::~RegistrySandbox() {
  machine_.reset();
  user_.reset();
  SHDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

RegistrySandbox::Redirect::Redirect(const RegistrySandbox& sandbox) {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, sandbox.machine());
  RegOverridePredefKey(HKEY_CURRENT_USER, sandbox.user());
}

RegistrySandbox::Redirect::~Redirect() {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
}

bool ReadRawValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD& type,
                  std::wstring& data) {
  RegKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return false;
  DWORD bytes = 0;
  if (RegQueryValueExW(opened.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> buffer(bytes + 2, 0);
  if (RegQueryValueExW(opened.get(), name, nullptr, &type, buffer.data(), &bytes) != ERROR_SUCCESS)
    return false;
  data.assign(reinterpret_cast<const wchar_t*>(buffer.data()), (bytes + 1) / 2);
  return true;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  RegKey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::wstring ValueNames(HKEY root, const std::wstring& key) {
  RegKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return L"<no key>";
  std::vector<std::wstring> names;
  wchar_t name[16384];
  for (DWORD index = 0;; ++index) {
    DWORD length = 16384;
    if (RegEnumValueW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  std::wstring joined;
  for (const std::wstring& each : names) joined += (joined.empty() ? L"" : L"|") + each;
  return joined;
}

std::wstring StringValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD type = 0;
  std::wstring data;
  if (!ReadRawValue(root, key, name, type, data)) return L"<missing>";
  if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
  return data.substr(0, data.find(L'\0'));
}

DWORD DwordValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD value = 0xFFFFFFFF;
  DWORD bytes = sizeof(value);
  RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
  return value;
}

}  // namespace kvca::test
