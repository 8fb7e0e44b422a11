// FixDefaultProvider: keeps the machine's default provider of type 75 one that
// works, and drops the user's own choice of that type so that the machine's
// default applies to the user as well.
#include "frame/action.h"
#include "frame/installer.h"

#include <wincrypt.h>

namespace kvca {

static const DWORD kProviderType = 75;
static const DWORD kNameCapacity = 260;
// Provider-specific parameters that a working default answers; their contents
// belong to the provider.
static const DWORD kParameter129 = 129;
static const DWORD kParameter138 = 138;

// A provider context acquired without a key container.
struct CryptProviderTraits {
  using Handle = HCRYPTPROV;
  static Handle invalid() noexcept { return 0; }
  static void close(Handle h) noexcept { CryptReleaseContext(h, 0); }
};
using CryptProvider = Owned<CryptProviderTraits>;

static bool AcquireProvider(const wchar_t* name, CryptProvider& context) {
  return CryptAcquireContextW(context.put(), nullptr, name, kProviderType, CRYPT_VERIFYCONTEXT) != FALSE;
}

// The default of type 75 for the user or the machine (CRYPT_USER_DEFAULT or
// CRYPT_MACHINE_DEFAULT); false when there is none.
static bool GetDefaultProvider(DWORD which, wchar_t (&name)[kNameCapacity]) {
  DWORD bytes = sizeof name;
  return CryptGetDefaultProviderW(kProviderType, nullptr, which, name, &bytes) != FALSE;
}

static void SetMachineDefault(const wchar_t* name) {
  CryptSetProviderExW(name, kProviderType, nullptr, CRYPT_MACHINE_DEFAULT);
}

static void DeleteUserDefault() {
  wchar_t name[kNameCapacity] = {};
  if (GetDefaultProvider(CRYPT_USER_DEFAULT, name))
    CryptSetProviderExW(name, kProviderType, nullptr, CRYPT_USER_DEFAULT | CRYPT_DELETE_DEFAULT);
}

static bool QueryParameter(HCRYPTPROV context, DWORD parameter, BYTE* data, DWORD size) {
  return CryptGetProvParam(context, parameter, data, &size, 0) != FALSE;
}

enum class ProviderTest { kWorks, kFails, kNotAcquired };

// A working provider reports major version 3 or later and answers the
// parameters 129 and 138; the queries stop at the first that fails.
static ProviderTest TestProvider(const wchar_t* name) {
  CryptProvider context;
  if (!AcquireProvider(name, context)) return ProviderTest::kNotAcquired;
  DWORD version = 0;
  DWORD parameter129 = 0;
  BYTE parameter138[20] = {};
  const bool works =
      QueryParameter(context.get(), PP_VERSION, reinterpret_cast<BYTE*>(&version), sizeof version) &&
      ((version >> 8) & 0xFF) >= 3 &&
      QueryParameter(context.get(), kParameter129, reinterpret_cast<BYTE*>(&parameter129),
                     sizeof parameter129) &&
      QueryParameter(context.get(), kParameter138, parameter138, sizeof parameter138);
  return works ? ProviderTest::kWorks : ProviderTest::kFails;
}

// The provider that the package names becomes the default when it can be
// acquired. An empty text names no provider: acquiring "" would pick the
// current default and write an empty name as the new one.
static bool MakePackageProviderDefault(MSIHANDLE install) {
  std::wstring name;
  if (ReadCustomActionData(install, name) != ERROR_SUCCESS || name.empty()) return false;
  CryptProvider context;
  if (!AcquireProvider(name.c_str(), context)) return false;
  SetMachineDefault(name.c_str());
  return true;
}

// The first installed provider of type 75 in enumeration order, if any.
static void MakeFirstInstalledProviderDefault() {
  for (DWORD index = 0;; ++index) {
    wchar_t name[kNameCapacity] = {};
    DWORD bytes = sizeof name;
    DWORD type = 0;
    if (!CryptEnumProvidersW(index, nullptr, 0, &type, name, &bytes)) return;
    if (type == kProviderType) {
      SetMachineDefault(name);
      return;
    }
  }
}

static UINT FixDefault(MSIHANDLE install) {
  DeleteUserDefault();
  wchar_t current[kNameCapacity] = {};
  if (!GetDefaultProvider(CRYPT_MACHINE_DEFAULT, current)) return ERROR_SUCCESS;

  const ProviderTest test = TestProvider(current);
  if (test == ProviderTest::kWorks) return ERROR_SUCCESS;
  if (MakePackageProviderDefault(install)) return ERROR_SUCCESS;
  // A default that loads but fails a test stays rather than being replaced by
  // a provider nobody asked for.
  if (test == ProviderTest::kNotAcquired) MakeFirstInstalledProviderDefault();
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION FixDefaultProvider(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::FixDefault(install); });
}
