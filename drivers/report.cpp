// The two formatting front ends of all driver reports, and the adapter from
// SetupAPI copy notifications to sink calls.
#include "drivers/progress_sink.h"

#include <setupapi.h>

#include <cstdarg>
#include <cwchar>

namespace kvca {

namespace {

constexpr size_t kReportCapacity = 512;

// At most 511 characters and a terminator; a longer text is cut.
void FormatReport(wchar_t (&buffer)[kReportCapacity], const wchar_t* format, va_list args) {
  _vsnwprintf(buffer, kReportCapacity - 1, format, args);
  buffer[kReportCapacity - 1] = L'\0';
}

}  // namespace

// Formats, then hands the text to one of the sink's slots with the caller's
// last-error value in place.
static void Report(DriverProgressSink& sink, void (DriverProgressSink::*slot)(const wchar_t*),
                   const wchar_t* format, va_list args) {
  const DWORD lastError = GetLastError();
  wchar_t text[kReportCapacity];
  FormatReport(text, format, args);
  SetLastError(lastError);
  (sink.*slot)(text);
  SetLastError(lastError);
}

void ReportInfo(DriverProgressSink& sink, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  Report(sink, &DriverProgressSink::OnInfo, format, args);
  va_end(args);
}

void ReportError(DriverProgressSink& sink, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  Report(sink, &DriverProgressSink::OnError, format, args);
  va_end(args);
}

void DriverProgressSink::OnStartCopyOperation(DWORD count) {
  ReportInfo(*this, L"Start copy operation:%d", count);
}

void DriverProgressSink::OnEndCopyOperation() { ReportInfo(*this, L"End copy operation."); }

void DriverProgressSink::OnStartCopyFile(const wchar_t* target) {
  ReportInfo(*this, L"Start copy file:'%s'", target);
}

void DriverProgressSink::OnEndCopyFile(const wchar_t* target) {
  ReportInfo(*this, L"End copy file:'%s'", target);
}

UINT CALLBACK CopyProgressCallback(PVOID context, UINT notification, UINT_PTR param1,
                                   UINT_PTR param2) {
  DriverProgressSink& sink = *static_cast<DriverProgressSink*>(context);
  switch (notification) {
    case SPFILENOTIFY_STARTQUEUE:
    case SPFILENOTIFY_ENDQUEUE:
    case SPFILENOTIFY_NEEDMEDIA:
      return 1;
    case SPFILENOTIFY_STARTSUBQUEUE:
      sink.OnStartCopyOperation(static_cast<DWORD>(param2));
      return 1;
    case SPFILENOTIFY_ENDSUBQUEUE:
      sink.OnEndCopyOperation();
      return 1;
    case SPFILENOTIFY_STARTCOPY:
      sink.OnStartCopyFile(reinterpret_cast<const FILEPATHS_W*>(param1)->Target);
      return FILEOP_DOIT;
    case SPFILENOTIFY_ENDCOPY:
      sink.OnEndCopyFile(reinterpret_cast<const FILEPATHS_W*>(param1)->Target);
      return 1;
    default:
      SetLastError(ERROR_CAN_NOT_COMPLETE);
      return 0;
  }
}

}  // namespace kvca
