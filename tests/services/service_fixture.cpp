#include "service_fixture.h"

#include <cstdlib>
#include <vector>

#include "frame/handles.h"

namespace kvca::test {

std::wstring EnvironmentPath(const wchar_t* variable) {
  const wchar_t* value = _wgetenv(variable);
  return value ? value : L"";
}

static ServiceHandle OpenNamed(const std::wstring& name, DWORD access, ServiceHandle& manager) {
  manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return ServiceHandle();
  return ServiceHandle(OpenServiceW(manager.get(), name.c_str(), access));
}

ServiceConfig QueryService(const std::wstring& name) {
  ServiceConfig result;
  ServiceHandle manager;
  ServiceHandle service = OpenNamed(name, SERVICE_QUERY_CONFIG, manager);
  if (!service) return result;
  DWORD size = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &size);
  std::vector<BYTE> block(size);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block.data());
  if (!QueryServiceConfigW(service.get(), config, size, &size)) return result;
  result.exists = true;
  result.type = config->dwServiceType;
  result.startType = config->dwStartType;
  result.errorControl = config->dwErrorControl;
  auto text = [](const wchar_t* value) { return value ? std::wstring(value) : std::wstring(); };
  result.imagePath = text(config->lpBinaryPathName);
  result.displayName = text(config->lpDisplayName);
  result.account = text(config->lpServiceStartName);
  result.group = text(config->lpLoadOrderGroup);
  for (const wchar_t* entry = config->lpDependencies; entry && *entry; entry += wcslen(entry) + 1)
    result.dependencies += (result.dependencies.empty() ? L"" : L"|") + std::wstring(entry);
  return result;
}

DWORD ServiceState(const std::wstring& name) {
  ServiceHandle manager;
  ServiceHandle service = OpenNamed(name, SERVICE_QUERY_STATUS, manager);
  SERVICE_STATUS status = {};
  if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

bool CreateStandinService(const std::wstring& name, DWORD startType, DWORD errorControl) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const std::wstring image = L"\"" + EnvironmentPath(L"KVCA_STANDIN_SERVICE") + L"\"";
  ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, startType, errorControl,
                                       image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  return service.valid();
}

bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD milliseconds) {
  for (DWORD waited = 0; waited <= milliseconds; waited += 100) {
    if (ServiceState(name) == state) return true;
    Sleep(100);
  }
  return false;
}

bool WaitForServiceGone(const std::wstring& name, DWORD milliseconds) {
  for (DWORD waited = 0; waited <= milliseconds; waited += 100) {
    if (!QueryService(name).exists) return true;
    Sleep(100);
  }
  return false;
}

bool RemoveService(const std::wstring& name) {
  {
    ServiceHandle manager;
    ServiceHandle service = OpenNamed(name, SERVICE_ALL_ACCESS, manager);
    if (!service) return true;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(name, SERVICE_STOPPED);
    DeleteService(service.get());
  }
  return WaitForServiceGone(name);
}

}  // namespace kvca::test

namespace kvca::test {

::testing::AssertionResult IsServiceErrorRecord(const Message& message, const std::wstring& name,
                                                int code) {
  // An empty field 0 comes back filled from the package's Error table.
  const bool matches = message.type == INSTALLMESSAGE_ERROR && message.fields.size() == 4 &&
                       message.Text(0) == kErrorTemplate1923 && message.Integer(1) == 1923 &&
                       message.HasField(2) == !name.empty() && message.fields[2].text == name &&
                       message.fields[3].isInteger && message.Integer(3) == code;
  if (matches) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "record of type " << message.type << ":";
  for (const Field& field : message.fields)
    failure << " [" << (field.isNull ? std::wstring(L"null") : field.text) << "]";
  return failure;
}

}  // namespace kvca::test
