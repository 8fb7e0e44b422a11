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

class InstallerSink : public SessionTest {
 protected:
  InstallerSink() { Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (25002, 'Driver error [1]')"); }
};

// An information line is one record; an error is a log line with the last
// error and the package's error 25002.
TEST_F(InstallerSink, SendsInformationAndErrorRecords) {
  InstallerProgressSink sink(Session());
  ReportInfo(sink, L"%s", std::wstring(600, L'i').c_str());
  SetLastError(1234);
  ReportError(sink, L"Can't get inf file location");
  EXPECT_EQ(1234u, GetLastError());
  sink.OnStartCopyOperation(2);
  sink.OnErrorRebootNeeded();

  ASSERT_EQ(4u, captured_.size());
  const Message& info = captured_[0];
  EXPECT_EQ(INSTALLMESSAGE_INFO, info.type);
  EXPECT_EQ(L"KSInstall64:info: [1]", info.Text(0));
  EXPECT_EQ(std::wstring(511, L'i'), info.Text(1));

  const Message& line = captured_[1];
  EXPECT_EQ(INSTALLMESSAGE_INFO, line.type);
  EXPECT_EQ(L"KSInstall64:error #[1]:[2]", line.Text(0));
  EXPECT_EQ(1234, line.Integer(1));
  EXPECT_EQ(L"Can't get inf file location", line.Text(2));

  const Message& error = captured_[2];
  EXPECT_EQ(INSTALLMESSAGE_ERROR, error.type);
  ASSERT_EQ(2u, error.fields.size());
  EXPECT_EQ(25002, error.Integer(1));
  EXPECT_EQ(L"Driver error [1]", error.Text(0));  // filled in from the Error table

  EXPECT_EQ((std::vector<std::wstring>{std::wstring(511, L'i'), L"Start copy operation:2"}),
            SinkInfoTexts(captured_));
}

// Copy notifications become sink calls; anything unexpected, a copy error
// among them, abandons the copy with ERROR_CAN_NOT_COMPLETE.
TEST(CopyProgress, AnswersEveryNotification) {
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());
  DriverProgressSink* context = &sink;
  FILEPATHS_W paths = {};
  paths.Target = L"C:\\t\\b.sys";
  paths.Source = L"C:\\s\\b.sys";

  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_STARTQUEUE, 0, 0));
  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_STARTSUBQUEUE, FILEOP_COPY, 0x700000004ull));
  EXPECT_EQ(static_cast<UINT>(FILEOP_DOIT),
            CopyProgressCallback(context, SPFILENOTIFY_STARTCOPY, reinterpret_cast<UINT_PTR>(&paths), 0));
  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_NEEDMEDIA, 0, 0));
  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_ENDCOPY, reinterpret_cast<UINT_PTR>(&paths), 0));
  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_ENDSUBQUEUE, FILEOP_COPY, 0));
  EXPECT_EQ(1u, CopyProgressCallback(context, SPFILENOTIFY_ENDQUEUE, 1, 0));
  SetLastError(0);
  EXPECT_EQ(0u, CopyProgressCallback(context, SPFILENOTIFY_COPYERROR, reinterpret_cast<UINT_PTR>(&paths), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CAN_NOT_COMPLETE), GetLastError());
  EXPECT_EQ(static_cast<UINT>(FILEOP_ABORT), 0u);

  const std::vector<std::string> expected = {
      "KSInstall64:info: Start copy operation:4",
      "KSInstall64:info: Start copy file:'C:\\t\\b.sys'",
      "KSInstall64:info: End copy file:'C:\\t\\b.sys'",
      "KSInstall64:info: End copy operation.",
  };
  EXPECT_EQ(expected, log.Lines());
}

}  // namespace
