// FixPrivateKeyLinks: the user's personal certificates whose keys lived in the
// CSP's earlier provider types are linked to type 75.
#include "providers/private_key_links.h"

#include <cwchar>
#include <set>
#include <vector>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/system_library.h"

namespace kvca {

static const DWORD kNewProviderType = 75;

static bool IsOldProviderType(DWORD type) { return type == 2 || type == 71; }

static bool NamesThisCsp(const wchar_t* provider) {
  return provider == nullptr || std::wcsstr(provider, L"Korvex") != nullptr;
}

static bool ReadKeyInformation(PCCERT_CONTEXT certificate, std::vector<BYTE>& block) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
    return false;
  block.assign(size, 0);
  return CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, block.data(),
                                           &size) != FALSE;
}

bool RelinkCertificateKey(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  std::vector<BYTE> block;
  if (!ReadKeyInformation(certificate, block)) return false;
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(block.data());
  if (!IsOldProviderType(info->dwProvType) || !NamesThisCsp(info->pwszProvName)) return false;

  info->pwszProvName = nullptr;
  info->dwProvType = kNewProviderType;
  if (!CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, info))
    return false;
  return CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr) != FALSE;
}

static PCCERT_CONTEXT NextCertificate(HCERTSTORE store, PCCERT_CONTEXT previous) {
  return CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_ANY,
                                    nullptr, previous);
}

using Encoding = std::vector<BYTE>;

struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { CertFreeCertificateContext(h); }
};
using CertContext = Owned<CertContextTraits>;

// One walk over the store in store order, passing the certificates already
// replaced. True when the store handed back the certificate just replaced in
// place of the next one: continuing from there would visit it for ever.
// The search frees the certificate it continues from; the owner frees the one
// the walk holds when it ends another way.
static bool RelinkInStoreOrder(HCERTSTORE store, std::set<Encoding>& replaced) {
  const Encoding* justReplaced = nullptr;
  for (CertContext certificate(NextCertificate(store, nullptr)); certificate;
       certificate.reset(NextCertificate(store, certificate.release()))) {
    const PCCERT_CONTEXT context = certificate.get();
    Encoding encoding(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    if (justReplaced != nullptr && *justReplaced == encoding) return true;
    justReplaced = nullptr;
    if (replaced.count(encoding) == 0 && RelinkCertificateKey(store, context))
      justReplaced = &*replaced.insert(std::move(encoding)).first;
  }
  return false;
}

// A walk that was held up starts over; each new walk follows a certificate
// newly replaced, so there are at most as many walks as certificates.
void RelinkStoreKeys(HCERTSTORE store) {
  std::set<Encoding> replaced;
  while (RelinkInStoreOrder(store, replaced)) {
  }
}

struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { CertCloseStore(h, 0); }
};
using CertStore = Owned<CertStoreTraits>;

static UINT FixKeyLinks() {
  CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG |
                                    CERT_STORE_MAXIMUM_ALLOWED_FLAG,
                                L"MY"));
  if (store) RelinkStoreKeys(store.get());
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION FixPrivateKeyLinks(MSIHANDLE install) {
  return kvca::RunAction([&] {
    if (!kvca::SystemLibraryLoads(install, L"FixPrivateKeyLinks", L"crypt32.dll")) return UINT{ERROR_SUCCESS};
    return kvca::FixKeyLinks();
  });
}
