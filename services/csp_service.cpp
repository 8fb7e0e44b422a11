// MsiCreateService and MsiCreateServiceRollback: the CSP's own service entry,
// hosted by the system's service host in the group "kvcsp". Both are deferred;
// the package gives them the service name in CustomActionData.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

static const wchar_t kServiceImage[] = L"%SystemRoot%\\system32\\svchost.exe -k kvcsp";

// The name "kvcsp3" is created and deleted as "kvcsp2"; every other name as it stands.
static std::wstring MapServiceName(const std::wstring& name) {
  return name == L"kvcsp3" ? std::wstring(L"kvcsp2") : name;
}

struct ServiceNames {
  std::wstring service;
  std::wstring display;
};

// "name/display name", split at the first "/"; without one, all of it is the name.
static ServiceNames SplitServiceNames(const std::wstring& data) {
  const size_t slash = data.find(L'/');
  if (slash == std::wstring::npos) return {MapServiceName(data), std::wstring()};
  return {MapServiceName(data.substr(0, slash)), data.substr(slash + 1)};
}

static UINT ReportLastServiceError(MSIHANDLE install, const std::wstring& name) {
  const DWORD code = GetLastError();
  ReportServiceError(install, code, name);
  return ERROR_INSTALL_FAILURE;
}

static UINT CreateCspService(MSIHANDLE install) {
  std::wstring data;
  if (ReadCustomActionData(install, data) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  const ServiceNames names = SplitServiceNames(data);

  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return ReportLastServiceError(install, names.service);
  // An own-process interactive service, although its image is the shared host.
  ServiceHandle service(CreateServiceW(
      manager.get(), names.service.c_str(), names.display.c_str(), SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, kServiceImage, nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) return ReportLastServiceError(install, names.service);
  return ERROR_SUCCESS;
}

// Rollback: stops the service without waiting and deletes it; never reports.
static UINT DeleteCspService(MSIHANDLE install) {
  std::wstring data;
  if (ReadCustomActionData(install, data) != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
  const std::wstring name = MapServiceName(data);

  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, DELETE));
  if (!manager) return ERROR_INSTALL_FAILURE;
  ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return ERROR_INSTALL_FAILURE;

  SERVICE_STATUS status = {};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  return DeleteService(service.get()) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace kvca

KVCA_ACTION MsiCreateService(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::CreateCspService(install); });
}

KVCA_ACTION MsiCreateServiceRollback(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::DeleteCspService(install); });
}
