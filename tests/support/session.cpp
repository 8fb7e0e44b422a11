#include "support/session.h"

#include <propidl.h>

#include <atomic>

namespace kvca::test {

static std::wstring ScratchPackagePath() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[64];
  swprintf(name, 64, L"kvca_session_%lu_%u.msi", GetCurrentProcessId(), counter++);
  return std::wstring(temp) + name;
}

SessionTest::SessionTest() : path_(ScratchPackagePath()) {
  UINT result = MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_CREATE, &database_);
  EXPECT_EQ(ERROR_SUCCESS, result) << "scratch package " << path_;
  Sql(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
      L"PRIMARY KEY `Property`)");
  const wchar_t* properties[][2] = {{L"ProductCode", L"{8D3B4F3A-7C2E-4A61-9B0E-5C1F2A3D4E01}"},
                                    {L"ProductName", L"kvca scratch package"},
                                    {L"ProductVersion", L"1.0.0"},
                                    {L"ProductLanguage", L"1033"},
                                    {L"Manufacturer", L"Korvex"}};
  for (const auto& property : properties)
    Sql(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('" + std::wstring(property[0]) + L"', '" +
        property[1] + L"')");

  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationW(database_, nullptr, 4, &summary) == ERROR_SUCCESS) {
    MsiSummaryInfoSetPropertyW(summary, PIDSI_TEMPLATE, VT_LPSTR, 0, nullptr, L"x64;1033");
    MsiSummaryInfoSetPropertyW(summary, PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr,
                               L"{0E2C8B1A-3D4F-4E5A-8B6C-7D8E9F0A1B2C}");
    MsiSummaryInfoSetPropertyW(summary, PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(summary, PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
    MsiSummaryInfoPersist(summary);
    MsiCloseHandle(summary);
  }
}

SessionTest::~SessionTest() {
  CloseSession();
  DeleteFileW(path_.c_str());
}

void SessionTest::CloseSession() {
  if (session_) {
    MsiCloseHandle(session_);
    session_ = 0;
    MsiSetInternalUI(previousLevel_, nullptr);
  }
  if (database_) {
    MsiCloseHandle(database_);
    database_ = 0;
  }
}

void SessionTest::TearDown() {
  CloseSession();
  EXPECT_EQ(0u, MsiCloseAllHandles()) << "installer handles left open";
}

void SessionTest::Sql(const std::wstring& statement) {
  MSIHANDLE view = 0;
  UINT result = MsiDatabaseOpenViewW(database_, statement.c_str(), &view);
  ASSERT_EQ(ERROR_SUCCESS, result) << statement;
  result = MsiViewExecute(view, 0);
  MsiViewClose(view);
  MsiCloseHandle(view);
  ASSERT_EQ(ERROR_SUCCESS, result) << statement;
}

MSIHANDLE SessionTest::Session() {
  if (session_) return session_;
  EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseCommit(database_));
  MsiCloseHandle(database_);
  database_ = 0;
  previousLevel_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  EXPECT_EQ(ERROR_SUCCESS, MsiOpenPackageW(path_.c_str(), &session_)) << "MsiOpenPackage " << path_;
  return session_;
}

void SessionTest::SetProperty(const std::wstring& name, const std::wstring& value) {
  EXPECT_EQ(ERROR_SUCCESS, MsiSetPropertyW(Session(), name.c_str(), value.c_str())) << name;
}

}  // namespace kvca::test
