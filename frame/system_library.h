// The system libraries that kvca.dll reaches only through delay-load thunks
// (setupapi, crypt32, winscard, secur32). When such a library cannot be loaded,
// the first call into it raises an exception in the delay-load helper that
// would end the installer's custom-action server, so every action that uses one
// proves first that it loads. Both the check and the delay-load helper load
// these libraries from the system folder alone, never by a search for the
// bare name.
#pragma once

#include <windows.h>
#include <msi.h>

namespace kvca {

// `library` (a file name such as L"setupapi.dll") loaded from the system
// folder alone; null with the thread's last error when it does not load.
HMODULE LoadFromSystemFolder(const wchar_t* library);

// 0 when `library` (a file name such as L"setupapi.dll") loads from the
// system folder, else the
// load's error code. The module is freed again: the delay-load thunks load it
// for themselves on the first call.
DWORD LoadSystemLibrary(const wchar_t* library);

// As above; a library that does not load is reported as error record 666 with
// `source` (the action's name), the text "LoadLibrary <library>" and the code.
bool SystemLibraryLoads(MSIHANDLE install, const wchar_t* source, const wchar_t* library);

}  // namespace kvca
