// Session fixture: a scratch package opened as a running installation, for
// the GoogleTest cases of code that reads the session's properties.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <string>

namespace kvca::test {

class SessionTest : public ::testing::Test {
 protected:
  SessionTest();
  ~SessionTest() override;
  void TearDown() override;

  // Opens the package (once) and returns the session handle.
  MSIHANDLE Session();
  void SetProperty(const std::wstring& name, const std::wstring& value);

 private:
  void Sql(const std::wstring& statement);
  void CloseSession();

  std::wstring path_;
  MSIHANDLE database_ = 0;
  MSIHANDLE session_ = 0;
  INSTALLUILEVEL previousLevel_ = INSTALLUILEVEL_NOCHANGE;
};

}  // namespace kvca::test
