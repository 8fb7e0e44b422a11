// Re-pointing the private-key links of certificates from provider types 2
// and 71 to type 75.
#pragma once

#include <windows.h>
#include <wincrypt.h>

namespace kvca {

// Re-points the certificate's key link when its provider type is 2 or 71 and
// its provider name is absent or holds "Korvex": the name becomes absent and
// the type 75, everything else of the key information stays. The changed
// certificate is added to `store` again, replacing the old one, so that the
// change is kept. True when it was added again.
bool RelinkCertificateKey(HCERTSTORE store, PCCERT_CONTEXT certificate);

// Visits every certificate of `store` in store order and re-points those that
// match. A store that hands back the certificate just replaced instead of the
// next one is walked again from its start, passing the certificates already
// replaced, so that the walk ends and reaches every certificate.
void RelinkStoreKeys(HCERTSTORE store);

}  // namespace kvca
