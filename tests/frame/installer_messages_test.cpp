#include <gtest/gtest.h>

#include "frame/installer.h"
#include "support/session.h"

namespace {

using namespace kvca;
using kvca::test::SessionTest;

class InstallerFrame : public SessionTest {};

TEST_F(InstallerFrame, ReadsPropertiesWholeOrEmpty) {
  const std::wstring long300(300, L'p');
  SetProperty(L"LONGPROP", long300);
  SetProperty(L"CustomActionData", L"a\x0001" L"b");

  std::wstring value = L"stale";
  EXPECT_EQ(ERROR_SUCCESS, ReadProperty(Session(), L"NOTSET", value));
  EXPECT_EQ(L"", value);
  EXPECT_EQ(ERROR_SUCCESS, ReadProperty(Session(), L"LONGPROP", value));
  EXPECT_EQ(long300, value);
  EXPECT_EQ(ERROR_SUCCESS, ReadCustomActionData(Session(), value));
  EXPECT_EQ(L"a\x0001" L"b", value);

  EXPECT_NE(ERROR_SUCCESS, ReadProperty(0, L"LONGPROP", value));
  EXPECT_EQ(L"", value);

  wchar_t fixed[301];
  EXPECT_EQ(ERROR_SUCCESS, ReadPropertyFixed(Session(), L"LONGPROP", fixed, 301));
  EXPECT_EQ(long300, fixed);
  EXPECT_EQ(static_cast<UINT>(ERROR_MORE_DATA), ReadPropertyFixed(Session(), L"LONGPROP", fixed, 300));
}

TEST_F(InstallerFrame, InformationMessagesCarryTheNumberOnlyForPlaceholderOne) {
  LogInfo(Session(), L"ExitCode: [1]", 5);
  LogInfo(Session(), L"CreateProcess()...", 7);
  LogInfo(Session(), L"only [2] here", 9);

  auto info = Messages(INSTALLMESSAGE_INFO);
  ASSERT_EQ(3u, info.size());
  EXPECT_EQ(L"ExitCode: [1]", info[0].Text(0));
  ASSERT_TRUE(info[0].HasField(1));
  EXPECT_EQ(5, info[0].Integer(1));
  EXPECT_EQ(L"CreateProcess()...", info[1].Text(0));
  EXPECT_FALSE(info[1].HasField(1));
  EXPECT_FALSE(info[2].HasField(1));
}

TEST_F(InstallerFrame, ErrorRecordsHaveAnEmptyTemplateAndFixedNumbers) {
  ReportErrorRecord(Session(), L"SetupCSPTest", L"WaitForSingleObject", 0);
  ReportServiceError(Session(), 1073, L"kvcsp2");

  auto errors = Errors();
  ASSERT_EQ(2u, errors.size());
  EXPECT_TRUE(kvca::test::IsErrorRecord(errors[0], L"SetupCSPTest", L"WaitForSingleObject", 0));

  const auto& service = errors[1];
  ASSERT_EQ(4u, service.fields.size());  // template + 3 fields
  EXPECT_EQ(kvca::test::kErrorTemplate1923, service.Text(0));
  EXPECT_EQ(1923, service.Integer(1));
  EXPECT_EQ(L"kvcsp2", service.Text(2));
  EXPECT_EQ(1073, service.Integer(3));
}

}  // namespace
