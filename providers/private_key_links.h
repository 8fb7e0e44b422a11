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
// match. Ends early only when the store hands back, right after a
// replacement, the certificate it just replaced: such a store would hand it
// back for ever.
void RelinkStoreKeys(HCERTSTORE store);

}  // namespace kvca
