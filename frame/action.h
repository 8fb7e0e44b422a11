// The shape every exported custom action shares.
#pragma once

#include <windows.h>
#include <msi.h>

#include <new>
#include <stdexcept>

// Entry point of an exported custom action: listed undecorated in kvca.def.
#define KVCA_ACTION extern "C" UINT __stdcall

namespace kvca {

// Runs an action body. When the wide string cannot get memory or is asked for a
// length outside its buffer, the action ends at that point with
// ERROR_INSTALL_FAILURE and no message; no exception reaches the installer.
template <class Body>
UINT RunAction(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

}  // namespace kvca
