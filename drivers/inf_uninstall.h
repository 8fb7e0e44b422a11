// Removing a kernel driver package that InstallInfDriver installed, found
// through the INF location saved under its component ID.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "drivers/progress_sink.h"

namespace kvca {

// Stops and deletes the service, deletes the CopyFiles targets, the AddReg and
// event-log values, the OEM INF and its .pnf, and the INF location. Goes on
// past most failures; `owner` is not used.
void UninstallInfDriver(const std::wstring& componentId, HWND owner, DWORD flags,
                        DriverProgressSink& sink);

// The OEM INF path stored under the component ID; none after reporting
// "Can't get inf file location" and "GetInfFileLocation".
std::optional<std::wstring> GetInfFileLocation(const std::wstring& componentId, DriverProgressSink& sink);

// A service that cannot take a stop now asks the sink for a restart and
// counts as stopped. 0 or ERROR_INSTALL_FAILURE.
UINT StopDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink);
UINT RemoveDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink);

// SetupUninstallOEMInfW when the system has it, then the OEM INF and its .pnf
// by name. 0 or ERROR_INSTALL_FAILURE.
UINT UninstallOemInf(const std::wstring& oemInfPath, DriverProgressSink& sink);

// Deletes the component's INF location value and the keys it leaves empty.
void DeleteInfFileLocation(const std::wstring& componentId, DriverProgressSink& sink);

}  // namespace kvca
