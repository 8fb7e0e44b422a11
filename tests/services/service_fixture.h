// Services for the tests: created through the real service manager, read back
// as the manager reports them, and deleted again.
#pragma once

#include <windows.h>

#include <string>

namespace kvca::test {

struct ServiceConfig {
  bool exists = false;
  DWORD type = 0;
  DWORD startType = 0;
  DWORD errorControl = 0;
  std::wstring imagePath;
  std::wstring displayName;
  std::wstring account;
  std::wstring group;
  std::wstring dependencies;  // "|"-joined
};

ServiceConfig QueryService(const std::wstring& name);
DWORD ServiceState(const std::wstring& name);  // 0 when the service cannot be queried

// The stand-in service program under `name` (KVCA_STANDIN_SERVICE).
bool CreateStandinService(const std::wstring& name, DWORD startType, DWORD errorControl);
// Stops the service, waits for it to stop and deletes it; true when it is gone.
bool RemoveService(const std::wstring& name);
// Waits up to `milliseconds` for the service to reach `state`.
bool WaitForServiceState(const std::wstring& name, DWORD state, DWORD milliseconds = 10000);
// Waits until the manager no longer knows the service.
bool WaitForServiceGone(const std::wstring& name, DWORD milliseconds = 10000);

std::wstring EnvironmentPath(const wchar_t* variable);

}  // namespace kvca::test

#include "support/session.h"

namespace kvca::test {

// Matches a service error record 1923 with its service name and code.
::testing::AssertionResult IsServiceErrorRecord(const Message& message, const std::wstring& name,
                                                int code);

}  // namespace kvca::test
