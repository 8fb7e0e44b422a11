// AddRemovedComponents: links ten components to the feature main64 for the
// running installation only, through temporary FeatureComponents rows.
#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

// In the order their rows are inserted.
static const wchar_t* const kMainComponents[] = {
    L"kvcertocm64", L"kvenroll64", L"kvintco64", L"kvmail64",  L"kvmssign64",
    L"kvoutlm64",   L"kvrdr64",    L"kvschan64", L"kvsecur64", L"kvui64"};

static std::wstring LinkStatement(const wchar_t* component) {
  return std::wstring(L"INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('main64', '") +
         component + L"') TEMPORARY";
}

// A feature the installer does not know, or one it reports broken, gets no rows.
static bool MainFeatureUsable(MSIHANDLE install) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  if (MsiGetFeatureStateW(install, L"main64", &installed, &action) != ERROR_SUCCESS) return false;
  return installed != INSTALLSTATE_BROKEN;
}

// The first statement that cannot be opened or executed ends the run; the
// rows inserted before it stay.
static UINT LinkComponents(MSIHANDLE install) {
  if (!MainFeatureUsable(install)) return ERROR_SUCCESS;
  MsiHandle database;
  for (const wchar_t* component : kMainComponents) {
    if (!database) database.reset(MsiGetActiveDatabase(install));
    DatabaseView view;
    if (view.Open(database.get(), LinkStatement(component).c_str()) != ERROR_SUCCESS) break;
    if (view.Execute() != ERROR_SUCCESS) break;
  }
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION AddRemovedComponents(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::LinkComponents(install); });
}
