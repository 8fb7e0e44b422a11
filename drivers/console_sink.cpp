#include "drivers/progress_sink.h"

#include <cwchar>

#include "frame/wide.h"

namespace kvca {

namespace {

void WriteLine(FILE* log, const std::wstring& line) {
  fputws(line.c_str(), log);
  fflush(log);
}

}  // namespace

void ConsoleProgressSink::OnRebootNeeded() { ReportInfo(*this, L"Need reboot."); }

void ConsoleProgressSink::OnInfo(const wchar_t* text) {
  if (!log_) return;
  WriteLine(log_, Format(L"KSInstall64:info: %s\n", text));
}

void ConsoleProgressSink::OnError(const wchar_t* text) {
  const DWORD code = GetLastError();
  if (!log_) return;
  WriteLine(log_, Format(L"KSInstall64:error 0x%X: %s.\n", code, text));
}

void ConsoleProgressSink::OnErrorRebootNeeded() {
  const DWORD code = GetLastError();
  if (!log_) return;
  WriteLine(log_, Format(L"KSInstall64:error reboot needed 0x%X:.\n", code));
}

}  // namespace kvca
