// The system libraries that kvca.dll reaches only through delay-load thunks
// (setupapi, crypt32, winscard, secur32). When such a library cannot be loaded,
// the first call into it raises an exception in the delay-load helper that
// would end the installer's custom-action server, so every action that uses one
// proves first that it loads.
#pragma once

#include <windows.h>
#include <msi.h>

namespace kvca {

// 0 when `library` (a bare file name such as L"setupapi.dll") loads, else the
// load's error code. The module is freed again: the delay-load thunks load it
// for themselves on the first call.
DWORD LoadSystemLibrary(const wchar_t* library);

// As above; a library that does not load is reported as error record 666 with
// `source` (the action's name), the text "LoadLibrary <library>" and the code.
bool SystemLibraryLoads(MSIHANDLE install, const wchar_t* source, const wchar_t* library);

}  // namespace kvca
