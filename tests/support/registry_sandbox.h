// Registry sandbox: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER redirected to
// scratch keys while a Redirect object lives. Keep the redirect around the
// call under test only: msi.dll reads HKEY_LOCAL_MACHINE itself.
#pragma once

#include <windows.h>

#include <string>

#include "frame/handles.h"

namespace kvca::test {

class RegistrySandbox {
 public:
  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  HKEY machine() const { return machine_.get(); }
  HKEY user() const { return user_.get(); }

  class Redirect {
   public:
    explicit Redirect(const RegistrySandbox& sandbox);
    ~Redirect();
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;
  };

 private:
  std::wstring path_;  // below HKEY_CURRENT_USER
  RegKey machine_;
  RegKey user_;
};

// Reads a value's type and its data exactly as stored (terminators included);
// false when it does not exist.
bool ReadRawValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD& type,
                  std::wstring& data);
bool KeyExists(HKEY root, const std::wstring& key);
// Names of every value of a key, sorted.
std::wstring ValueNames(HKEY root, const std::wstring& key);
std::wstring StringValue(HKEY root, const std::wstring& key, const wchar_t* name);
DWORD DwordValue(HKEY root, const std::wstring& key, const wchar_t* name);

}  // namespace kvca::test
