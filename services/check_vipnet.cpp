// CheckVipNet: sets VIPNETFOUND to "1" when another vendor's cryptographic
// provider is on the machine, found by its product's upgrade code or by one of
// its services. The property is never cleared.
#include "frame/action.h"
#include "frame/handles.h"

namespace kvca {

static const wchar_t kOtherVendorUpgradeCode[] = L"{A28DF081-78D5-4EDF-9A6E-DEF4A6AA9970}";
static const wchar_t* const kOtherVendorServices[] = {L"itcspe", L"itcspe64"};

static void MarkFound(MSIHANDLE install) { MsiSetPropertyW(install, L"VIPNETFOUND", L"1"); }

static bool RelatedProductInstalled() {
  wchar_t productCode[39] = {};
  return MsiEnumRelatedProductsW(kOtherVendorUpgradeCode, 0, 0, productCode) == ERROR_SUCCESS;
}

static UINT DetectOtherVendor(MSIHANDLE install) {
  if (RelatedProductInstalled()) {
    MarkFound(install);
    return ERROR_SUCCESS;
  }
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  if (!manager) return ERROR_SUCCESS;
  // Both names are looked at, even after the first one is found.
  for (const wchar_t* name : kOtherVendorServices) {
    ServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    if (service) MarkFound(install);
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION CheckVipNet(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::DetectOtherVendor(install); });
}
