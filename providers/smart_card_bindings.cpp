// UninstallSmartCard: unbinds the system's smart-card types from a provider
// that is being removed. Card types bound to it are forgotten, except the
// "eTokenHS" card, which gets its own vendor's provider back.
#include <winscard.h>

#include <cwchar>
#include <string>
#include <vector>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/system_library.h"

namespace kvca {

static const wchar_t kCardDatabaseKey[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
static const wchar_t kSmartCardService[] = L"SCardSvr";
static const wchar_t kVendorCard[] = L"eTokenHS";
static const wchar_t kVendorCardProvider[] = L"eToken Base Cryptographic Provider";
static const DWORD kProviderNameCapacity = 260;

struct SmartCardContextTraits {
  using Handle = SCARDCONTEXT;
  static Handle invalid() noexcept { return 0; }
  static void close(Handle h) noexcept { SCardReleaseContext(h); }
};
using SmartCardContext = Owned<SmartCardContextTraits>;

// The card functions go through the service; whether it starts here makes no
// difference to what follows.
static void StartSmartCardService() {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  ServiceHandle service(OpenServiceW(manager.get(), kSmartCardService, SERVICE_ALL_ACCESS));
  if (service) StartServiceW(service.get(), 0, nullptr);
}

// Forgets the card type, or gives the vendor's card its own provider back.
// True when the card type is gone.
static bool UnbindCardType(SCARDCONTEXT context, const wchar_t* card) {
  if (lstrcmpiW(card, kVendorCard) == 0) {
    SCardSetCardTypeProviderNameW(context, card, SCARD_PROVIDER_CSP, kVendorCardProvider);
    return false;
  }
  SCardForgetCardTypeW(context, card);
  return true;
}

static UINT UnbindCardTypes(MSIHANDLE install) {
  std::wstring provider;
  if (ReadCustomActionData(install, provider) != ERROR_SUCCESS) return ERROR_SUCCESS;
  StartSmartCardService();

  RegKey database;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCardDatabaseKey, 0, KEY_ALL_ACCESS, database.put()) != ERROR_SUCCESS)
    return ERROR_SUCCESS;
  DWORD count = 0;
  DWORD longest = 0;
  if (RegQueryInfoKeyW(database.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return ERROR_SUCCESS;

  std::vector<wchar_t> card(longest + 1, L'\0');
  SmartCardContext context;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context.put()) != SCARD_S_SUCCESS)
    return ERROR_SUCCESS;

  // A forgotten card type's successor moves into its index, so the index
  // stays and the count drops. A card type whose provider cannot be read
  // ends the walk.
  for (DWORD index = 0; index < count;) {
    if (RegEnumKeyW(database.get(), index, card.data(), longest + 1) != ERROR_SUCCESS) break;
    wchar_t csp[kProviderNameCapacity] = {};
    DWORD length = kProviderNameCapacity;
    if (SCardGetCardTypeProviderNameW(context.get(), card.data(), SCARD_PROVIDER_CSP, csp, &length) !=
        SCARD_S_SUCCESS)
      break;
    if (provider == csp && UnbindCardType(context.get(), card.data()))
      --count;
    else
      ++index;
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION UninstallSmartCard(MSIHANDLE install) {
  return kvca::RunAction([&] {
    if (!kvca::SystemLibraryLoads(install, L"UninstallSmartCard", L"winscard.dll"))
      return UINT{ERROR_SUCCESS};
    return kvca::UnbindCardTypes(install);
  });
}
