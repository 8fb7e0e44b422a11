// SetupCSPTest with the stand-in self-test program.
#include <gtest/gtest.h>

#include "service_fixture.h"

extern "C" UINT __stdcall SetupCSPTest(MSIHANDLE install);

namespace {

using namespace kvca::test;

class SetupCspTest : public SessionTest {
 protected:
  SetupCspTest() { Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (25030, 'Not started.')"); }
  UINT Run(const std::wstring& commandLine) {
    SetProperty(L"CustomActionData", commandLine);
    return SetupCSPTest(Session());
  }
  // The child's command line, padded with a last argument to `length` characters.
  std::wstring ChildCommand(size_t length) const {
    std::wstring line = L"\"" + EnvironmentPath(L"KVCA_CSP_TEST_CHILD") + L"\" \"" + marker_ + L"\" [1] ";
    line.resize(length, L'x');
    return line;
  }
  bool ChildRan() const { return GetFileAttributesW(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  ScratchFolder folder_;
  std::wstring marker_ = folder_.File(L"ran.txt");
};

TEST_F(SetupCspTest, RunsTheLongestCommandLineAndWaitsForItsEnd) {
  // The child sleeps, leaves its marker and exits with 3.
  const std::wstring command = ChildCommand(259);
  EXPECT_EQ(0u, Run(command)) << "the program's exit code is not examined";
  EXPECT_TRUE(ChildRan()) << "returned before the program ended";
  const std::vector<std::wstring> expected = {command, L"CreateProcess()...", L"WaitForSingleObject()..."};
  EXPECT_EQ(expected, InfoTexts());
  EXPECT_EQ(L"0", FieldsText(Messages(INSTALLMESSAGE_INFO)[0])) << "[1] in the command line";
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SetupCspTest, ACommandLineOf260CharactersOrMoreStartsNothing) {
  for (size_t length : {260u, 300u}) {
    captured_.clear();
    EXPECT_EQ(1603u, Run(ChildCommand(length)));
    ASSERT_EQ(1u, captured_.size()) << length;
    EXPECT_TRUE(IsErrorRecord(captured_[0], L"SetupCSPTest", L"MsiGetProperty", ERROR_MORE_DATA));
    EXPECT_FALSE(ChildRan());
  }
}

TEST_F(SetupCspTest, AProgramThatDoesNotExistGivesRecord25030) {
  const std::wstring command = L"\"" + folder_.File(L"missing.exe") + L"\" /test";
  EXPECT_EQ(1603u, Run(command));
  const std::vector<std::wstring> expected = {command, L"CreateProcess()...", L"CreateProcess() failed: [1]"};
  EXPECT_EQ(expected, InfoTexts());
  EXPECT_EQ(L"2", FieldsText(Messages(INSTALLMESSAGE_INFO).at(2))) << "ERROR_FILE_NOT_FOUND";
  ASSERT_EQ(1u, Errors().size());
  EXPECT_EQ(L"Not started.", Errors()[0].Text(0)) << "field 0 was empty";
  EXPECT_EQ(L"25030", FieldsText(Errors()[0]));
}

}  // namespace
