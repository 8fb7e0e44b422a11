// How each function that kvca.dll imports fails: what it returns and which
// last-error value it leaves. kvca-run's fault injection answers a call with
// this instead of making it.
#pragma once

#include <windows.h>

namespace kvca::run {

enum class FailureKind {
  kFails,     // made to fail: returns `result`, and sets `lastError` unless kKeepsLastError
  kReleases,  // closes or frees: never made to fail (the handle would stay open)
  kNeverFails // cannot fail as the library calls it (GetLastError, memcpy, the unwinder…)
};

constexpr DWORD kKeepsLastError = 0xFFFFFFFF;  // functions that return their error code

struct FailureRule {
  const char* function;
  FailureKind kind;
  ULONG_PTR result;
  DWORD lastError;
};

// The rule for an imported function; nullptr when the table does not list it.
const FailureRule* FindFailureRule(const char* function);

}  // namespace kvca::run
