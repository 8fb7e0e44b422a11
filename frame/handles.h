// One move-only owner for every handle family: the family's traits give the
// handle type, the value that means "no handle" and the function that closes it.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <setupapi.h>

#include <utility>

namespace kvca {

template <class Traits>
class Owned {
 public:
  using Handle = typename Traits::Handle;

  Owned() noexcept = default;
  explicit Owned(Handle handle) noexcept : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // For functions that hand out a new handle through an out-parameter.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

  Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }

  void reset(Handle handle = Traits::invalid()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  Handle handle_ = Traits::invalid();
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { RegCloseKey(h); }
};
struct ServiceTraits {
  using Handle = SC_HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { CloseServiceHandle(h); }
};
struct MsiHandleTraits {
  using Handle = MSIHANDLE;
  static Handle invalid() noexcept { return 0; }
  static void close(Handle h) noexcept { MsiCloseHandle(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { FreeLibrary(h); }
};
// Kernel objects returned as NULL on failure: processes, threads, events.
struct KernelTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { CloseHandle(h); }
};
// Files and devices: CreateFileW fails with INVALID_HANDLE_VALUE.
struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { CloseHandle(h); }
};
struct FindTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { FindClose(h); }
};
struct InfTraits {
  using Handle = HINF;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { SetupCloseInfFile(h); }
};
struct FileQueueTraits {
  using Handle = HSPFILEQ;
  static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) noexcept { SetupCloseFileQueue(h); }
};

using RegKey = Owned<RegKeyTraits>;
using ServiceHandle = Owned<ServiceTraits>;
using MsiHandle = Owned<MsiHandleTraits>;
using ModuleHandle = Owned<ModuleTraits>;
using KernelHandle = Owned<KernelTraits>;
using FileHandle = Owned<FileTraits>;
using FindHandle = Owned<FindTraits>;
using InfHandle = Owned<InfTraits>;
using FileQueueHandle = Owned<FileQueueTraits>;

}  // namespace kvca
