// The two elementary cleanups of a driver removal: a file that may be in use,
// and a registry value together with the keys it leaves empty.
#pragma once

#include <windows.h>

#include <string>

#include "drivers/progress_sink.h"

namespace kvca {

// A named cleanup that reports through a sink. With `ignoreErrors` set, the
// INF walks report a failed Apply as information and go on.
class CleanupAction {
 public:
  CleanupAction(const wchar_t* name, DriverProgressSink& sink, bool ignoreErrors)
      : name_(name), sink_(sink), ignoreErrors_(ignoreErrors) {}
  virtual ~CleanupAction() = default;

  const std::wstring& name() const { return name_; }
  DriverProgressSink& sink() const { return sink_; }
  bool ignoreErrors() const { return ignoreErrors_; }

 private:
  std::wstring name_;
  DriverProgressSink& sink_;
  bool ignoreErrors_;
};

// "RemoveFileAction": RemoveFile on one path.
class RemoveFileAction : public CleanupAction {
 public:
  RemoveFileAction(DriverProgressSink& sink, bool ignoreErrors)
      : CleanupAction(L"RemoveFileAction", sink, ignoreErrors) {}
  // 0, or ERROR_INSTALL_FAILURE when RemoveFile fails.
  UINT Apply(const wchar_t* path) const;
};

// "RemoveRegistryAction": deletes one value, then the keys left empty.
class RemoveRegistryAction : public CleanupAction {
 public:
  RemoveRegistryAction(DriverProgressSink& sink, bool ignoreErrors)
      : CleanupAction(L"RemoveRegistryAction", sink, ignoreErrors) {}
  // 0, or ERROR_INSTALL_FAILURE with the last error set to the failing
  // registry call's code. An empty value name is the key's default value.
  UINT Apply(HKEY root, const std::wstring& subkey, const std::wstring& valueName) const;
};

// Deletes a file; one that cannot be deleted is renamed to a new csp*.tmp in
// its own folder and marked for deletion at restart. Reports only information.
bool RemoveFile(const wchar_t* path, DriverProgressSink& sink);

// Deletes root\path when it has no subkeys and no values, then each ancestor
// below root that is left empty, reporting "Empty key '%s' removed.".
void RemoveEmptyKeys(HKEY root, const std::wstring& path, DriverProgressSink& sink);

}  // namespace kvca
