// Services for the tests, through the real service manager.
#pragma once

#include <windows.h>

#include <string>

#include "support/session.h"

namespace kvca::test {

// "type=0x110 start=2 error=1 image=... display=... account=...", or "" when
// the manager does not know the service.
std::wstring ServiceConfigText(const std::wstring& name);
DWORD ServiceState(const std::wstring& name);  // 0 when it cannot be queried
bool WaitForServiceState(const std::wstring& name, DWORD state);  // up to 10 s; 0 = gone

// The stand-in service program (KVCA_STANDIN_SERVICE) under `name`; optionally started.
bool CreateStandinService(const std::wstring& name, DWORD startType, DWORD errorControl,
                          bool start = false);
// Stops the service and deletes it; true when it is gone.
bool RemoveService(const std::wstring& name);

// Fields 1 and up of a record, "|"-joined: "1923|kvcsp2|1073".
std::wstring FieldsText(const Message& message);
std::wstring EnvironmentPath(const wchar_t* variable);

}  // namespace kvca::test
