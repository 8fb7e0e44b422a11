#include "support/session.h"

#include <shellapi.h>
#include <propidl.h>

#include <atomic>

namespace kvca::test {

std::wstring UniqueName(const std::wstring& prefix) {
  static std::atomic<unsigned> counter{0};
  wchar_t suffix[64];
  swprintf(suffix, 64, L"%lu_%lu_%u", GetCurrentProcessId(), GetTickCount(), counter++);
  return prefix + suffix;
}

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + UniqueName(L"kvca_");
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  // SHFileOperation wants a double-NUL-terminated list.
  std::wstring from = path_ + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

static const wchar_t* kBaseTables[] = {
    L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
    L"PRIMARY KEY `Property`)",
    L"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE "
    L"PRIMARY KEY `Error`)",
};

SessionTest::SessionTest() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + UniqueName(L"kvca_session_") + L".msi";
  UINT result = MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_CREATE, &database_);
  EXPECT_EQ(ERROR_SUCCESS, result) << "scratch package " << path_;
  for (const wchar_t* table : kBaseTables) Sql(table);
  PackageProperty(L"ProductCode", L"{8D3B4F3A-7C2E-4A61-9B0E-5C1F2A3D4E01}");
  PackageProperty(L"ProductName", L"kvca scratch package");
  PackageProperty(L"ProductVersion", L"1.0.0");
  PackageProperty(L"ProductLanguage", L"1033");
  PackageProperty(L"Manufacturer", L"Korvex");
  Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (666, '" + std::wstring(kErrorTemplate666) + L"')");
  Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (1923, '" + std::wstring(kErrorTemplate1923) + L"')");

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
    MsiSetExternalUIRecord(previous_, previousFilter_, nullptr, nullptr);
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

MSIHANDLE SessionTest::Database() { return database_; }

void SessionTest::Sql(const std::wstring& statement) {
  ASSERT_NE(0u, database_) << "the session is already open";
  MSIHANDLE view = 0;
  UINT result = MsiDatabaseOpenViewW(database_, statement.c_str(), &view);
  ASSERT_EQ(ERROR_SUCCESS, result) << statement;
  result = MsiViewExecute(view, 0);
  MsiViewClose(view);
  MsiCloseHandle(view);
  ASSERT_EQ(ERROR_SUCCESS, result) << statement;
}

void SessionTest::PackageProperty(const std::wstring& name, const std::wstring& value) {
  Sql(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('" + name + L"', '" + value + L"')");
}

MSIHANDLE SessionTest::Session() {
  if (session_) return session_;
  EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseCommit(database_));
  MsiCloseHandle(database_);
  database_ = 0;

  previousLevel_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const DWORD filter = INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                       INSTALLLOGMODE_USER | INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_PROGRESS;
  MsiSetExternalUIRecord(&SessionTest::Capture, filter, this, &previous_);
  UINT result = MsiOpenPackageW(path_.c_str(), &session_);
  EXPECT_EQ(ERROR_SUCCESS, result) << "MsiOpenPackage " << path_;
  captured_.clear();  // what the installer said while opening the package
  return session_;
}

void SessionTest::SetProperty(const std::wstring& name, const std::wstring& value) {
  EXPECT_EQ(ERROR_SUCCESS, MsiSetPropertyW(Session(), name.c_str(), value.c_str())) << name;
}

std::wstring SessionTest::Property(const std::wstring& name) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  MsiGetPropertyW(Session(), name.c_str(), empty, &size);
  std::wstring value(size + 1, L'\0');
  ++size;
  MsiGetPropertyW(Session(), name.c_str(), &value[0], &size);
  value.resize(size);
  return value;
}

INT CALLBACK SessionTest::Capture(LPVOID context, UINT type, MSIHANDLE record) {
  auto* self = static_cast<SessionTest*>(context);
  Message message{static_cast<INSTALLMESSAGE>(type & 0xFF000000), {}};
  const UINT count = record ? MsiRecordGetFieldCount(record) : 0;
  for (UINT n = 0; record && n <= count; ++n) {
    Field field;
    field.isNull = MsiRecordIsNull(record, n) != FALSE;
    if (!field.isNull) {
      DWORD size = 0;
      wchar_t empty[1] = {};
      MsiRecordGetStringW(record, n, empty, &size);
      field.text.assign(size + 1, L'\0');
      ++size;
      MsiRecordGetStringW(record, n, &field.text[0], &size);
      field.text.resize(size);
      field.integer = MsiRecordGetInteger(record, n);
      field.isInteger = field.integer != static_cast<int>(MSI_NULL_INTEGER) &&
                        field.text == std::to_wstring(field.integer);
    }
    message.fields.push_back(field);
  }
  // Wine puts the message type's header template in front of field 0
  // ("Info [1]." or "{{Error [1]. }}"); Windows does not. Take it off.
  static const wchar_t* kWineHeaders[] = {L"Info [1].", L"{{Error [1]. }}"};
  if (!message.fields.empty())
    for (const wchar_t* header : kWineHeaders)
      if (message.fields[0].text.rfind(header, 0) == 0) message.fields[0].text.erase(0, wcslen(header));
  const INT answer = message.type == INSTALLMESSAGE_ERROR ? IDOK : 0;
  self->captured_.push_back(std::move(message));
  return answer;
}

std::vector<Message> SessionTest::Messages(INSTALLMESSAGE type) const {
  std::vector<Message> selected;
  for (const Message& message : captured_)
    if (message.type == type) selected.push_back(message);
  return selected;
}

std::vector<std::wstring> SessionTest::InfoTexts() const {
  std::vector<std::wstring> texts;
  for (const Message& message : Messages(INSTALLMESSAGE_INFO)) {
    const std::wstring text = message.HasField(0) ? message.Text(0) : std::wstring();
    // The installer's own lines around every MsiDoAction.
    if (text.rfind(L"Action start [Time]", 0) == 0 || text.rfind(L"Action ended [Time]", 0) == 0) continue;
    texts.push_back(text);
  }
  return texts;
}

::testing::AssertionResult IsErrorRecord(const Message& message, const std::wstring& source,
                                         const std::wstring& text, int code) {
  // The installer fills an empty field 0 from its Error table before the
  // handler sees the record: the package's template there proves it was empty.
  const bool matches = message.type == INSTALLMESSAGE_ERROR && message.fields.size() == 5 &&
                       message.Text(0) == kErrorTemplate666 && message.Integer(1) == 666 &&
                       message.Text(2) == source && message.Text(3) == text &&
                       message.fields[4].isInteger && message.Integer(4) == code;
  if (matches) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "record of type " << message.type << ":";
  for (const Field& field : message.fields)
    failure << " [" << (field.isNull ? std::wstring(L"null") : field.text) << "]";
  return failure;
}

}  // namespace kvca::test
