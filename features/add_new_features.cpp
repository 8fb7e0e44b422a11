// AddNewFeatures: requests local installation of the feature kvconfig, and of
// kvcspr1 when the product's kvcspr1 files are already on the machine through
// another feature.
#include <cwchar>
#include <string>

#include "frame/action.h"
#include "frame/installer.h"

namespace kvca {

static const wchar_t kSpr1FileComponent[] = L"{4CBE4BB1-EEC3-4EBD-882C-FD787E3F9DD6}";

struct States {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
};

static bool GetFeatureStates(MSIHANDLE install, const wchar_t* feature, States& states) {
  return MsiGetFeatureStateW(install, feature, &states.installed, &states.action) == ERROR_SUCCESS;
}

static UINT RequestLocal(MSIHANDLE install, const wchar_t* feature) {
  return MsiSetFeatureStateW(install, feature, INSTALLSTATE_LOCAL);
}

// kvconfig goes local unless it is installed or selected locally already.
static bool RequestConfiguration(MSIHANDLE install) {
  States config;
  if (!GetFeatureStates(install, L"kvconfig", config)) return false;
  if (config.installed == INSTALLSTATE_LOCAL || config.action == INSTALLSTATE_LOCAL) return true;
  return RequestLocal(install, L"kvconfig") == ERROR_SUCCESS;
}

// The placeholder component stands for kvcspr1's files while the feature
// itself is off: installed locally and staying so.
static bool PlaceholderStaysLocal(MSIHANDLE install) {
  States placeholder;
  if (MsiGetComponentStateW(install, L"fake_kvcspr", &placeholder.installed, &placeholder.action) !=
      ERROR_SUCCESS)
    return false;
  return placeholder.installed == INSTALLSTATE_LOCAL && placeholder.action == INSTALLSTATE_LOCAL;
}

// The component's path for this product, when it is installed locally and its
// key path is a file (a folder key path ends with a backslash). A path longer
// than the buffer is answered with another state and does not count.
static bool ResolvesToFile(const std::wstring& productCode) {
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (MsiGetComponentPathW(productCode.c_str(), kSpr1FileComponent, path, &size) != INSTALLSTATE_LOCAL)
    return false;
  const size_t length = wcslen(path);
  return length > 0 && path[length - 1] != L'\\';
}

static UINT AddFeatures(MSIHANDLE install) {
  if (!RequestConfiguration(install)) return ERROR_SUCCESS;

  States spr1;
  if (!GetFeatureStates(install, L"kvcspr1", spr1) || spr1.installed == INSTALLSTATE_LOCAL)
    return ERROR_SUCCESS;
  if (!PlaceholderStaysLocal(install)) return ERROR_SUCCESS;
  std::wstring productCode;
  if (ReadProperty(install, L"ProductCode", productCode) != ERROR_SUCCESS) return ERROR_SUCCESS;
  if (ResolvesToFile(productCode)) RequestLocal(install, L"kvcspr1");
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION AddNewFeatures(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::AddFeatures(install); });
}
