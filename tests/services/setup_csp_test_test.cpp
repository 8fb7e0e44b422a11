// SetupCSPTest with the stand-in self-test program.
#include <gtest/gtest.h>

#include "service_fixture.h"
#include "support/session.h"

extern "C" UINT __stdcall SetupCSPTest(MSIHANDLE install);

namespace {

using namespace kvca::test;

const wchar_t kNotStartedTemplate[] = L"The CSP self-test could not be started.";

class SetupCspTest : public SessionTest {
 protected:
  SetupCspTest() {
    Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (25030, '" +
        std::wstring(kNotStartedTemplate) + L"')");
  }
  UINT Run(const std::wstring& commandLine) {
    SetProperty(L"CustomActionData", commandLine);
    captured_.clear();
    return SetupCSPTest(Session());
  }
  // The child's command line, padded with a last argument to `length` characters.
  std::wstring ChildCommand(size_t length) const {
    std::wstring line = L"\"" + EnvironmentPath(L"KVCA_CSP_TEST_CHILD") + L"\" \"" + marker_ +
                        L"\" [1] ";
    line.resize(length, L'x');
    return line;
  }
  bool MarkerExists() const { return GetFileAttributesW(marker_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  ScratchFolder folder_;
  std::wstring marker_ = folder_.File(L"ran.txt");
};

TEST_F(SetupCspTest, RunsTheLongestCommandLineAndWaitsForItsEnd) {
  const std::wstring command = ChildCommand(259);
  // The child sleeps before it leaves its marker and then exits with 3.
  EXPECT_EQ(0u, Run(command)) << "the program's exit code is not examined";
  EXPECT_TRUE(MarkerExists()) << "the action returned before the program ended";

  const std::vector<std::wstring> expected = {command, L"CreateProcess()...",
                                              L"WaitForSingleObject()..."};
  EXPECT_EQ(expected, InfoTexts());
  const std::vector<Message> infos = Messages(INSTALLMESSAGE_INFO);
  ASSERT_EQ(3u, infos.size());
  ASSERT_TRUE(infos[0].HasField(1)) << "the command line holds [1]: filled with 0";
  EXPECT_EQ(0, infos[0].Integer(1));
  EXPECT_FALSE(infos[1].HasField(1));
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SetupCspTest, ACommandLineOf260CharactersOrMoreStartsNothing) {
  for (size_t length : {260u, 300u}) {
    EXPECT_EQ(1603u, Run(ChildCommand(length))) << length;
    ASSERT_EQ(1u, captured_.size()) << length;
    EXPECT_TRUE(IsErrorRecord(captured_[0], L"SetupCSPTest", L"MsiGetProperty", ERROR_MORE_DATA));
    EXPECT_FALSE(MarkerExists());
  }
}

TEST_F(SetupCspTest, AProgramThatDoesNotExistGivesRecord25030) {
  const std::wstring command = L"\"" + folder_.File(L"missing.exe") + L"\" /test";
  EXPECT_EQ(1603u, Run(command));
  const std::vector<std::wstring> expected = {command, L"CreateProcess()...",
                                              L"CreateProcess() failed: [1]"};
  EXPECT_EQ(expected, InfoTexts());
  const std::vector<Message> infos = Messages(INSTALLMESSAGE_INFO);
  ASSERT_EQ(3u, infos.size());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, infos[2].Integer(1));

  const std::vector<Message> errors = Errors();
  ASSERT_EQ(1u, errors.size());
  const Message& record = errors[0];
  ASSERT_EQ(2u, record.fields.size());
  EXPECT_EQ(kNotStartedTemplate, record.Text(0)) << "field 0 was empty";
  EXPECT_EQ(25030, record.Integer(1));
}

}  // namespace
