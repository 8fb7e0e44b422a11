// The installer's progress bar, moved by the driver actions.
#pragma once

#include <windows.h>
#include <msi.h>

namespace kvca {

// Sends the action-information record (1, 0, 0, 0), then the progress
// report (2, ticks, 0, 0) with the same record.
void SendProgress(MSIHANDLE install, int ticks);

}  // namespace kvca
