// SetSCardSvrAutoStart: makes the system's smart-card service start with the
// system, and starts it now.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

static const wchar_t kSmartCardService[] = L"SCardSvr";

// A LocalAlloc block, freed with LocalFree.
struct LocalTraits {
  using Handle = HLOCAL;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { LocalFree(h); }
};
using LocalBlock = Owned<LocalTraits>;

static UINT ReportSmartCardError(MSIHANDLE install) {
  const DWORD code = GetLastError();
  ReportServiceError(install, code, kSmartCardService);
  return ERROR_INSTALL_FAILURE;
}

// Whether it starts is the service's own business: already running is fine.
static void StartSmartCardService(SC_HANDLE service) { StartServiceW(service, 0, nullptr); }

static UINT SetAutoStart(MSIHANDLE install) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return ReportSmartCardError(install);
  ServiceHandle service(OpenServiceW(manager.get(), kSmartCardService, SERVICE_ALL_ACCESS));
  if (!service) return ReportSmartCardError(install);

  DWORD size = 0;
  if (!QueryServiceConfigW(service.get(), nullptr, 0, &size) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return ReportSmartCardError(install);
  LocalBlock block(LocalAlloc(LPTR, size));
  if (!block) return ReportSmartCardError(install);
  auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(block.get());
  if (!QueryServiceConfigW(service.get(), config, size, &size)) return ReportSmartCardError(install);

  if (config->dwStartType != SERVICE_AUTO_START &&
      !ChangeServiceConfigW(service.get(), config->dwServiceType, SERVICE_AUTO_START,
                            config->dwErrorControl, config->lpBinaryPathName, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr))
    return ReportSmartCardError(install);
  StartSmartCardService(service.get());
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION SetSCardSvrAutoStart(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::SetAutoStart(install); });
}
