// DriverActionData: the CustomActionData of the deferred driver actions, five
// fields joined by U+0001: directory, INF file name ("long" or "short|long"),
// component ID, driver flags, progress ticks.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/installer.h"

namespace kvca {

// Driver flags: the Flags column of KVDriverPackages. Other bits mean nothing.
enum DriverFlags : DWORD {
  NoService = 0x1,    // installation looks up, installs and starts no service
  NoStart = 0x20,     // installation installs the service but does not start it
  NoStop = 0x100,     // removal deletes the service without stopping it and asks for a restart
};

struct DriverActionData {
  std::wstring infPath;      // directory + long file name
  std::wstring componentId;  // names the INF location value
  DWORD flags = 0;
  long progressTicks = 0;
};

// Reads CustomActionData of the running action. False when a buffer cannot be
// allocated or the property cannot be read. Missing trailing fields give
// empty texts and 0.
bool ParseDriverActionData(MSIHANDLE install, DriverActionData& data);
// The same from the text of the property. False when a buffer cannot be allocated.
bool SplitDriverActionData(const wchar_t* text, DriverActionData& data);

}  // namespace kvca
