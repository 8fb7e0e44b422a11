// Installing a kernel driver package from its INF file: OEM INF copy, saved
// INF location, DefaultInstall section, DefaultInstall.Services, driver start.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>

#include "drivers/progress_sink.h"

namespace kvca {

// Returns 0, or ERROR_INSTALL_FAILURE after reporting the failed step. Partial
// work is not undone; the INF location is saved before the section is
// installed so that UninstallInfDriver can take it back.
UINT InstallInfDriver(const std::wstring& infPath, const std::wstring& componentId, HWND owner,
                      DWORD flags, DriverProgressSink& sink);

struct SplitPathResult {
  std::wstring fullPath;
  std::wstring directory;  // fullPath up to and including its last backslash
};

// `fullPathLength` is GetFullPathNameW's answer for `path` (terminator
// included). Also clears the read-only and hidden attributes of every
// oem*.?nf in the system INF folder. None after reporting "GetFullPathName".
std::optional<SplitPathResult> SplitPath(const std::wstring& path, DWORD fullPathLength,
                                         DriverProgressSink& sink);

// Field 1 of the first AddService line of DefaultInstall.Services.
std::optional<std::wstring> GetServiceName(HINF inf, DriverProgressSink& sink);

// SetupCopyOEMInfW of the INF; the OEM INF's path, or none. A copy made is
// at once stored as the INF location of `componentId`.
std::optional<std::wstring> CopyOemInf(const std::wstring& directory, const std::wstring& fullInfPath,
                                       const std::wstring& componentId, DriverProgressSink& sink);

// Stores the OEM INF path under the component ID in the INF location key; a
// key that cannot be created or a value that cannot be written fails.
UINT SaveInfFileLocation(const std::wstring& oemInfPath, const std::wstring& componentId,
                         DriverProgressSink& sink);

// (Re)starts the service: a running one gets a stop first, not waited for.
UINT StartDriver(SC_HANDLE manager, const std::wstring& serviceName, DriverProgressSink& sink);

}  // namespace kvca
