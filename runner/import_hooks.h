// kvca-run's fault injection, a developer's tool for the failure paths of an
// export: the functions the DLL imports, and those it reaches through its
// delay-load thunks, are replaced in its import address tables by thunks that
// count the export's calls and can make one of them fail as the function fails
// (failure_table.cpp) without making it. The handle hooks (handle_ledger.h)
// sit behind the thunks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvca::run {

struct FaultInjection {
  // The call to fail: the failCall-th of all calls counted (from 1), or, with
  // failFunction, the failCall-th call of that function, counting from the
  // first call of failAfter when one is named; 0: none.
  unsigned failCall = 0;
  std::string failFunction;
  std::string failAfter;
  std::vector<std::wstring> failedLoads;  // libraries that do not load ("crypt32.dll")
  bool trace = false;                     // a line for every call counted
};

// Replaces the import address table entries of `module`. Prints an
// "unlisted import" line for each imported function the failure table lacks.
void HookImports(HMODULE module, const FaultInjection& injection);

// Calls are counted, and handles noted, from Start on this thread until Stop,
// which returns the number of calls counted.
void StartCounting();
unsigned StopCounting();

}  // namespace kvca::run
