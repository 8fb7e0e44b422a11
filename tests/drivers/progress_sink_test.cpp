#include <gtest/gtest.h>

#include <setupapi.h>

#include "drivers/driver_package.h"
#include "drivers/progress_sink.h"

namespace {

using namespace kvca;
using namespace kvca::test;

// The console lines, the 511-character cut and the last error that survives
// the front ends for the next report.
TEST(ConsoleSink, WritesTheLogFileLines) {
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  const std::wstring long600(600, L'x');

  SetLastError(0x57);
  ReportError(sink, L"%s", long600.c_str());
  EXPECT_EQ(0x57u, GetLastError());
  ReportInfo(sink, L"Install driver %s success.", static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(0x57u, GetLastError());
  ReportError(sink, L"SetupOpenInfFile:%d.", 12);
  ReportInfo(sink, L"%s", long600.c_str());
  sink.OnRebootNeeded();
  sink.OnStartCopyOperation(3);
  sink.OnStartCopyFile(L"C:\\t\\a.sys");
  sink.OnEndCopyFile(L"C:\\t\\a.sys");
  sink.OnEndCopyOperation();
  SetLastError(5);
  sink.OnErrorRebootNeeded();

  const std::vector<std::string> expected = {
      "KSInstall64:error 0x57: " + std::string(511, 'x') + ".",
      "KSInstall64:info: Install driver (null) success.",
      "KSInstall64:error 0x57: SetupOpenInfFile:12..",
      "KSInstall64:info: " + std::string(511, 'x'),
      "KSInstall64:info: Need reboot.",
      "KSInstall64:info: Start copy operation:3",
      "KSInstall64:info: Start copy file:'C:\\t\\a.sys'",
      "KSInstall64:info: End copy file:'C:\\t\\a.sys'",
      "KSInstall64:info: End copy operation.",
      "KSInstall64:error reboot needed 0x5:.",
  };
  EXPECT_EQ(expected, log.Lines());

  ConsoleProgressSink silent(nullptr);
  ReportInfo(silent, L"dropped");
  ReportError(silent, L"dropped");
  silent.OnErrorRebootNeeded();
}

// Copy notifications: a subqueue's count is the low 32 bits of the second
// parameter; anything unexpected, a copy error among them, abandons the copy
// (0 is FILEOP_ABORT) with ERROR_CAN_NOT_COMPLETE.
TEST(CopyProgress, AbandonsTheCopyOnAnyOtherNotification) {
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  FILEPATHS_W paths = {};
  paths.Target = L"C:\\t\\b.sys";
  EXPECT_EQ(1u, CopyProgressCallback(&sink, SPFILENOTIFY_STARTSUBQUEUE, FILEOP_COPY, 0x700000004ull));
  EXPECT_EQ(1u, CopyProgressCallback(&sink, SPFILENOTIFY_NEEDMEDIA, 0, 0));
  SetLastError(0);
  EXPECT_EQ(0u, CopyProgressCallback(&sink, SPFILENOTIFY_COPYERROR, reinterpret_cast<UINT_PTR>(&paths), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CAN_NOT_COMPLETE), GetLastError());
  EXPECT_EQ((std::vector<std::string>{"KSInstall64:info: Start copy operation:4"}), log.Lines());
}

}  // namespace
