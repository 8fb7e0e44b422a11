// The product's TLS package in the LSA's package list, and in the running LSA.
// None of these actions reads a property; only SslRegister sends a message,
// when secur32.dll cannot be loaded.
#include "frame/action.h"
#include "frame/system_library.h"
#include "providers/security_package_list.h"

#define SECURITY_WIN32
#include <security.h>

static_assert(sizeof(SECURITY_PACKAGE_OPTIONS) == 24, "AddSecurityPackageW expects 24 bytes");

// The product's package takes the place of the system's TLS package (or of
// another vendor's); it is appended, never put where the removed entry was.
KVCA_ACTION SslRegInstall(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::EditSecurityPackages({L"schannel", L"itcssp"}, L"kvssl"); });
}

// Gives the system's TLS package its place back. kvca.def exports this action a
// second time as SslRegRollback, the name the rollback script binds.
KVCA_ACTION SslRegUninstall(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::EditSecurityPackages({L"kvssl"}, L"schannel"); });
}

KVCA_ACTION TlsRegUninstall(MSIHANDLE) {
  return kvca::RunAction([] { return kvca::EditSecurityPackages({L"kvtls"}, nullptr); });
}

// Loads the product's package into the running LSA. Whether the LSA takes it
// makes no difference to the installation: the stored list holds it from the
// next boot on.
static UINT AddPackageToRunningLsa() {
  SECURITY_PACKAGE_OPTIONS options = {};
  options.Size = sizeof options;
  options.Type = SECPKG_OPTIONS_TYPE_LSA;
  wchar_t package[] = L"kvssl";
  AddSecurityPackageW(package, &options);
  return ERROR_SUCCESS;
}

KVCA_ACTION SslRegister(MSIHANDLE install) {
  return kvca::RunAction([&] {
    if (!kvca::SystemLibraryLoads(install, L"SslRegister", L"secur32.dll")) return UINT{ERROR_SUCCESS};
    return AddPackageToRunningLsa();
  });
}
