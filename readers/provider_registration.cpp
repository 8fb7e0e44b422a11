// RegReaderProv: registers one provider under the system's provider list from
// the CustomActionData that ProcessReaderProviders composed.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/registry.h"
#include "readers/provider_data.h"

#include <wincrypt.h>

namespace kvca {

static const wchar_t kProviderRoot[] = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
static const wchar_t kSource[] = L"RegReaderProv";

static DWORD ReportLastError(MSIHANDLE install, const wchar_t* text) {
  ReportErrorRecord(install, kSource, text, GetLastError());
  return GetLastError();
}

// Every value is attempted; the results are ORed.
static LONG WriteProviderValues(HKEY key, const ProviderData& data) {
  LONG result = ERROR_SUCCESS;
  if (!data.media.empty()) result |= WriteRegString(key, L"Media", data.media);
  result |= WriteRegString(key, L"KV Module Entry Point", L"DllStartServer");
  result |= WriteRegString(key, L"KV Module Name", data.module);
  result |= WriteRegString(key, L"Image Path", data.imagePath);
  result |= WriteRegDword(key, L"SigInFile", 1);
  result |= WriteRegDword(key, L"Type", 75);
  if (data.media == L"SCARD") result |= WriteRegDword(key, L"ImpType", CRYPT_IMPL_REMOVABLE);
  // "%d" stays as it is: the provider fills in the number.
  result |= WriteRegString(key, L"KV Service Name", L"Korvex CSP KC" + data.level + L" Service %d");
  result |= WriteRegString(key, L"KV Service UUID", L"323BF3DA-B759-47a9-89E3-080776A1F4D6");
  return result;
}

static UINT RegisterProvider(MSIHANDLE install) {
  std::wstring text;
  if (ReadPropertySteps(install, L"CustomActionData", text).ReadFailed())
    return ReportLastError(install, L"MsiGetProperty() fail");

  const ProviderData data = SplitProviderData(text);
  LogInfo(install, L"RegReaderProv(" + data.carrier + L", " + data.media + L", " + data.level +
                       L", " + data.module + L", " + data.imagePath + L")");

  const std::wstring path = kProviderRoot + ProviderName(data.carrier, data.level);
  RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return ReportLastError(install, L"Creating Reg key fail");

  if (WriteProviderValues(key.get(), data) != ERROR_SUCCESS)
    return ReportLastError(install, L"SetRegVal() fail");
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION RegReaderProv(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::RegisterProvider(install); });
}
