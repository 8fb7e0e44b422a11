// FixPrivateKeyLinks: the user's personal certificates whose keys lived in the
// CSP's earlier provider types are linked to type 75.
#include "providers/private_key_links.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "frame/action.h"
#include "frame/handles.h"

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

static bool HasEncoding(PCCERT_CONTEXT certificate, const std::vector<BYTE>& encoding) {
  return certificate->cbCertEncoded == encoding.size() &&
         std::memcmp(certificate->pbCertEncoded, encoding.data(), encoding.size()) == 0;
}

static PCCERT_CONTEXT NextCertificate(HCERTSTORE store, PCCERT_CONTEXT previous) {
  return CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_ANY,
                                    nullptr, previous);
}

void RelinkStoreKeys(HCERTSTORE store) {
  std::vector<BYTE> justReplaced;
  for (PCCERT_CONTEXT certificate = NextCertificate(store, nullptr); certificate != nullptr;
       certificate = NextCertificate(store, certificate)) {
    if (!justReplaced.empty() && HasEncoding(certificate, justReplaced)) {
      CertFreeCertificateContext(certificate);
      return;
    }
    justReplaced.clear();
    if (RelinkCertificateKey(store, certificate))
      justReplaced.assign(certificate->pbCertEncoded,
                          certificate->pbCertEncoded + certificate->cbCertEncoded);
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

KVCA_ACTION FixPrivateKeyLinks(MSIHANDLE) { return kvca::RunAction(kvca::FixKeyLinks); }
