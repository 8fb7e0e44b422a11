// The handles an export opens and closes, seen through its imports: every
// function that hands out a handle, and every function that closes one, is
// replaced by a hook with its own signature that calls it and notes the
// handle. Installer handles are left to MsiCloseAllHandles.
#pragma once

#include <windows.h>

#include <string>

namespace kvca::run {

struct HandleHook {
  const char* function;
  void* hook;           // has the function's own signature
  void** real;          // where the hook finds the function it wraps
  void* failure = nullptr;  // the function's failure, where it releases a handle it was given
};

// The hook for an imported function; nullptr when it hands out or closes no handle.
const HandleHook* FindHandleHook(const char* function);

// Handles are noted only while the export runs.
void NoteHandles(bool on);

// The handles opened and not closed, by the function that opened them:
// "none", or "RegOpenKeyExW 1, CreateFileW 2".
std::wstring OpenHandles();

// The handles that the DLL's C++ runtime made while handles were noted and
// keeps for the life of the process (the semaphores of its locks).
size_t RuntimeHandles();

// The kernel handles of this process, as the system lists them (registry keys,
// files, processes, the service manager's connection; not the handles that
// SetupAPI, the service manager or crypt32 keep in memory).
size_t ProcessHandleCount();

}  // namespace kvca::run
