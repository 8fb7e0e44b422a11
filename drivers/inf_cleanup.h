// Finding what an INF's install sections created, read from the same INF,
// and handing each target to a cleanup action.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>

#include "drivers/cleanup_actions.h"
#include "drivers/progress_sink.h"
#include "frame/handles.h"

namespace kvca {

// A file queue holding the first section of every CopyFiles line of
// DefaultInstall, never committed: scanning it gives the target paths. An
// invalid queue after a report when it cannot be opened or a section cannot be
// read or queued.
FileQueueHandle BuildFileQueue(const std::wstring& sourceDirectory, HINF inf, DriverProgressSink& sink);

// SetupScanFileQueueW callback (SPQ_SCAN_USE_CALLBACK); the context is a
// const RemoveFileAction*. Always answers 0 so that the scan goes on.
UINT CALLBACK RemoveQueuedFile(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);

// The values of DefaultInstall's AddReg sections, then those of the service's
// event-log section under
// HKLM\System\CurrentControlSet\Services\EventLog\<type>\<service>.
UINT RemoveInfRegistry(HINF inf, const RemoveRegistryAction& action, const std::wstring& serviceName);

// Walks the AddReg lines from `firstLine` on; each line's first section only.
// `root` and `keyPrefix` resolve HKR lines; without a root HKR is invalid.
UINT RemoveAddRegSections(HINF inf, const RemoveRegistryAction& action, HKEY root,
                          const wchar_t* keyPrefix, const INFCONTEXT& firstLine);
UINT RemoveRegistrySection(HINF inf, const RemoveRegistryAction& action, const std::wstring& section,
                           HKEY root, const wchar_t* keyPrefix);

// Fields 4 and 5 of the first AddService line of DefaultInstall.Services; the
// type defaults to "System".
std::optional<std::wstring> GetEventLogSection(HINF inf, DriverProgressSink& sink);
std::optional<std::wstring> GetEventLogType(HINF inf, DriverProgressSink& sink);

}  // namespace kvca
