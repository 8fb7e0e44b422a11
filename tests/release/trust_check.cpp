// trust_check ROOT.cer FILE...: puts the certificate ROOT.cer (DER) into the
// machine's trusted roots, then asks WinVerifyTrust (Authenticode policy, no
// revocation check, no user interface) about each file and prints its answer.
// Exit code: the number of files whose answer is not 0.
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <vector>

namespace {

bool TrustRoot(const wchar_t* path) {
  FILE* file = _wfopen(path, L"rb");
  if (!file) return false;
  std::vector<BYTE> der;
  BYTE chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) der.insert(der.end(), chunk, chunk + n);
  fclose(file);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return false;
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                      nullptr);
  CertCloseStore(store, 0);
  return added != FALSE;
}

LONG Verify(const wchar_t* path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID policy = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || !TrustRoot(argv[1])) {
    fprintf(stderr, "usage: trust_check ROOT.cer FILE... (the root must be readable DER)\n");
    return 100;
  }
  int untrusted = 0;
  for (int i = 2; i < argc; ++i) {
    const wchar_t* name = wcsrchr(argv[i], L'\\');
    const LONG result = Verify(argv[i]);
    wprintf(L"%ls: 0x%08lx\n", name ? name + 1 : argv[i], static_cast<unsigned long>(result));
    untrusted += result != 0;
  }
  return untrusted;
}
