// Where the driver code reports: the installer log (deferred actions) or an
// optional log file (command-line entry points).
#pragma once

#include <windows.h>
#include <msi.h>

#include <cstdio>

namespace kvca {

class DriverProgressSink {
 public:
  virtual ~DriverProgressSink() = default;

  // A driver service cannot be stopped now; the machine must restart.
  virtual void OnRebootNeeded() = 0;
  // The file-copy slots read the same in both sinks: an information line each.
  virtual void OnStartCopyOperation(DWORD count);
  virtual void OnEndCopyOperation();
  virtual void OnStartCopyFile(const wchar_t* target);
  virtual void OnEndCopyFile(const wchar_t* target);
  virtual void OnInfo(const wchar_t* text) = 0;
  // The error code is the thread's last-error value at the moment of the call.
  virtual void OnError(const wchar_t* text) = 0;
  // Not called by any driver operation.
  virtual void OnErrorRebootNeeded() = 0;
};

// Reports to the installer: information records to the log, errors also as
// the package's error 25002, the reboot request as the reboot marker.
class InstallerProgressSink : public DriverProgressSink {
 public:
  explicit InstallerProgressSink(MSIHANDLE install) : install_(install) {}

  void OnRebootNeeded() override;
  void OnInfo(const wchar_t* text) override;
  void OnError(const wchar_t* text) override;
  void OnErrorRebootNeeded() override;

 private:
  MSIHANDLE install_;
};

// Writes "KSInstall64:" lines to a stream that the caller opened (mode "wt")
// and closes; without a stream every report is dropped.
class ConsoleProgressSink : public DriverProgressSink {
 public:
  explicit ConsoleProgressSink(FILE* log) : log_(log) {}

  void OnRebootNeeded() override;
  void OnInfo(const wchar_t* text) override;
  void OnError(const wchar_t* text) override;
  void OnErrorRebootNeeded() override;

 private:
  FILE* log_;
};

// Format by msvcrt's wide printf rules (%s is a wide text, a null one prints
// "(null)"), cut to 511 characters, handed to OnInfo / OnError. The thread's
// last-error value is the same after the call as before it.
void ReportInfo(DriverProgressSink& sink, const wchar_t* format, ...);
void ReportError(DriverProgressSink& sink, const wchar_t* format, ...);

// File-queue callback for SetupInstallFromInfSectionW; the context is a
// DriverProgressSink*. Unknown notifications (a copy error among them) get 0,
// which abandons the copy, with last error ERROR_CAN_NOT_COMPLETE.
UINT CALLBACK CopyProgressCallback(PVOID context, UINT notification, UINT_PTR param1,
                                   UINT_PTR param2);

}  // namespace kvca
