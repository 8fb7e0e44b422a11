/* Custom action of the reference package's forced-rollback switch: a deferred
   step that fails the installation, so that the installer runs the rollback
   script. */
#include <windows.h>
#include <msi.h>

__declspec(dllexport) UINT __stdcall FailInstallation(MSIHANDLE install) {
  (void)install;
  return ERROR_INSTALL_FAILURE;
}
