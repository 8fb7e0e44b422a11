// Session fixture: a scratch package with the tables a test asks for, opened
// as a running installation, with every message the code sends captured.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvca::test {

// One field of a captured record.
struct Field {
  bool isNull = true;
  bool isInteger = false;
  int integer = 0;
  std::wstring text;
};

struct Message {
  INSTALLMESSAGE type;
  std::vector<Field> fields;  // fields[0] is the template; fields[1..] the numbered fields

  bool HasField(size_t n) const { return n < fields.size() && !fields[n].isNull; }
  const std::wstring& Text(size_t n) const { return fields.at(n).text; }
  int Integer(size_t n) const { return fields.at(n).integer; }
};

// The scratch package's Error rows.
constexpr const wchar_t* kErrorTemplate666 = L"Error 666 [2] / [3] / [4]";
constexpr const wchar_t* kErrorTemplate1923 = L"Service [2] could not be installed: [3]";

class SessionTest : public ::testing::Test {
 protected:
  SessionTest();
  ~SessionTest() override;
  void TearDown() override;

  // Runs one SQL statement on the scratch package before the session opens.
  void Sql(const std::wstring& statement);
  // Adds a Property row before the session opens.
  void PackageProperty(const std::wstring& name, const std::wstring& value);
  // The scratch package's database, open until the session opens.
  MSIHANDLE Database();

  // Opens the package (once) and returns the session handle.
  MSIHANDLE Session();
  void SetProperty(const std::wstring& name, const std::wstring& value);
  std::wstring Property(const std::wstring& name);

  // The captured records of one type, in the order they were sent.
  std::vector<Message> Messages(INSTALLMESSAGE type) const;
  // Field 0 of every information message but the installer's own action lines.
  std::vector<std::wstring> InfoTexts() const;
  std::vector<Message> Errors() const { return Messages(INSTALLMESSAGE_ERROR); }

  std::vector<Message> captured_;

 private:
  static INT CALLBACK Capture(LPVOID context, UINT type, MSIHANDLE record);
  void CloseSession();

  std::wstring path_;
  MSIHANDLE database_ = 0;
  MSIHANDLE session_ = 0;
  INSTALLUI_HANDLER_RECORD previous_ = nullptr;
  DWORD previousFilter_ = 0;
  INSTALLUILEVEL previousLevel_ = INSTALLUILEVEL_NOCHANGE;
};

// Matches an error record 666 with its source, text and code.
::testing::AssertionResult IsErrorRecord(const Message& message, const std::wstring& source,
                                         const std::wstring& text, int code);

// A temporary folder under %TEMP%, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

std::wstring UniqueName(const std::wstring& prefix);

}  // namespace kvca::test
