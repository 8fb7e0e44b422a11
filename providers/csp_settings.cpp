// Settings of the CSP under HKLM\SOFTWARE\Korvex: whether it registers itself
// with CNG (EnhanceCNG), and the integrity label of its settings key
// (SetRegistryLow).
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/registry.h"

namespace kvca {

static const wchar_t kParametersKey[] = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion\\Parameters";
static const wchar_t kSettingsObject[] = L"MACHINE\\SOFTWARE\\Korvex\\Settings";
// Low integrity, no write-up, inherited by every subkey.
static const wchar_t kLowLabel[] = L"S:(ML;OICI;NW;;;LW)";

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { LocalFree(h); }
};
using LocalMemory = Owned<LocalMemoryTraits>;

// Only the text "1" enables; a text that cannot be read counts as empty.
static UINT RecordEnhancedCng(MSIHANDLE install) {
  std::wstring data;
  ReadCustomActionData(install, data);
  const DWORD enabled = data == L"1" ? 1 : 0;
  RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  WriteRegDword(key.get(), L"RegisterEnhancedCNG", enabled);
  return ERROR_SUCCESS;
}

// Lets low-integrity processes of the CSP write its settings.
static UINT LabelSettingsLow() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLowLabel, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return ERROR_SUCCESS;
  LocalMemory owner(descriptor);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL label = nullptr;
  if (!GetSecurityDescriptorSacl(descriptor, &present, &label, &defaulted)) return ERROR_SUCCESS;
  std::wstring object = kSettingsObject;
  SetNamedSecurityInfoW(&object[0], SE_REGISTRY_KEY, LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, label);
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION EnhanceCNG(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::RecordEnhancedCng(install); });
}

KVCA_ACTION SetRegistryLow(MSIHANDLE) { return kvca::RunAction(kvca::LabelSettingsLow); }
