#include "service_fixture.h"

#include <cstdlib>
#include <vector>

#include "frame/handles.h"
#include "frame/wide.h"

namespace kvca::test {

std::wstring EnvironmentPath(const wchar_t* variable) {
  const wchar_t* value = _wgetenv(variable);
  return value ? value : L"";
}

static ServiceHandle OpenNamed(const std::wstring& name, DWORD access) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  return ServiceHandle(OpenServiceW(manager.get(), name.c_str(), access));
}

std::wstring ServiceConfigText(const std::wstring& name) {
  ServiceHandle service = OpenNamed(name, SERVICE_QUERY_CONFIG);
  DWORD size = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<BYTE> block(size + sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block.data());
  if (!service || !QueryServiceConfigW(service.get(), config, size, &size)) return L"";
  return Format(L"type=0x%X start=%u error=%u image=%s display=%s account=%s", config->dwServiceType,
                config->dwStartType, config->dwErrorControl, config->lpBinaryPathName,
                config->lpDisplayName, config->lpServiceStartName);
}

DWORD ServiceState(const std::wstring& name) {
  ServiceHandle service = OpenNamed(name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status = {};
  return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

bool WaitForServiceState(const std::wstring& name, DWORD state) {
  for (int tries = 0; tries < 100 && ServiceState(name) != state; ++tries) Sleep(100);
  return ServiceState(name) == state;
}

bool CreateStandinService(const std::wstring& name, DWORD startType, DWORD errorControl, bool start) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  const std::wstring image = L"\"" + EnvironmentPath(L"KVCA_STANDIN_SERVICE") + L"\"";
  ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, startType, errorControl,
                                       image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service || !start) return service.valid();
  return StartServiceW(service.get(), 0, nullptr) && WaitForServiceState(name, SERVICE_RUNNING);
}

bool RemoveService(const std::wstring& name) {
  ServiceHandle service = OpenNamed(name, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  if (service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
    WaitForServiceState(name, SERVICE_STOPPED);
  if (service) DeleteService(service.get());
  service.reset();
  return WaitForServiceState(name, 0);
}

std::wstring FieldsText(const Message& message) {
  std::wstring text;
  for (size_t n = 1; n < message.fields.size(); ++n)
    text += (n > 1 ? L"|" : L"") + message.fields[n].text;
  return text;
}

}  // namespace kvca::test
