// Removal of the CSP's own keys and of its entries among the system's
// providers. A key that is not there, or cannot be deleted, is passed over.
#include <shlwapi.h>

#include <string>

#include "frame/action.h"

namespace kvca {

static const wchar_t kSettingsKey[] = L"SOFTWARE\\Korvex\\Settings";
static const wchar_t kCryptographyKey[] = L"SOFTWARE\\Korvex\\Cryptography";
static const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion";

// Below SOFTWARE\Microsoft\Cryptography\Defaults: every provider the CSP has
// registered over its versions, and its two provider types.
static const wchar_t* const kCspDefaultsKeys[] = {
    L"Provider\\Korvex Cryptographic Service Provider",
    L"Provider\\Korvex GOST R 34.10-94 Cryptographic Service Provider",
    L"Provider\\Korvex GOST R 34.10-2001 Cryptographic Service Provider",
    L"Provider\\Korvex SmartCard CSP",
    L"Provider\\Korvex GOST R 34.10-94 KC1 CSP",
    L"Provider\\Korvex GOST R 34.10-2001 KC1 CSP",
    L"Provider\\Korvex GOST R 34.10-94 KC2 CSP",
    L"Provider\\Korvex GOST R 34.10-2001 KC2 CSP",
    L"Provider Types\\Type 071",
    L"Provider Types\\Type 075",
};

static void DeleteTree(const wchar_t* key) { SHDeleteKeyW(HKEY_LOCAL_MACHINE, key); }

static UINT DeleteSettings() {
  DeleteTree(kSettingsKey);
  return ERROR_SUCCESS;
}

// The cryptography key goes only when nothing else is left below it.
static UINT DeleteCryptographyKey() {
  DeleteTree(kCurrentVersionKey);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kCryptographyKey);
  return ERROR_SUCCESS;
}

static UINT DeleteCspDefaults() {
  for (const wchar_t* key : kCspDefaultsKeys)
    DeleteTree((std::wstring(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\") + key).c_str());
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION DelAllReg(MSIHANDLE) { return kvca::RunAction(kvca::DeleteSettings); }
KVCA_ACTION DelKVCryptographyKey(MSIHANDLE) { return kvca::RunAction(kvca::DeleteCryptographyKey); }
KVCA_ACTION DelKVCSPs(MSIHANDLE) { return kvca::RunAction(kvca::DeleteCspDefaults); }
