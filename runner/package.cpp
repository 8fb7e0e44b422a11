#include "runner/package.h"

#include "frame/handles.h"
#include "runner/records.h"

#include <msiquery.h>
#include <propidl.h>

namespace kvca::run {

TemporaryPackage::~TemporaryPackage() {
  if (!path_.empty()) DeleteFileW(path_.c_str());
}

UINT TemporaryPackage::MakeName() {
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"kvr", 0, name))
    return GetLastError();
  path_ = name;
  return ERROR_SUCCESS;
}

UINT TemporaryPackage::CopyOf(const std::wstring& source) {
  if (const UINT made = MakeName()) return made;
  if (!CopyFileW(source.c_str(), path_.c_str(), FALSE)) return GetLastError();
  SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only source stays deletable
  return ERROR_SUCCESS;
}

static UINT Execute(MSIHANDLE database, const std::wstring& statement) {
  MsiHandle view;
  UINT result = MsiDatabaseOpenViewW(database, statement.c_str(), view.put());
  if (result != ERROR_SUCCESS) return result;
  result = MsiViewExecute(view.get(), 0);
  MsiViewClose(view.get());
  return result;
}

static void ImportTables(MSIHANDLE database, const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = folder + L"\\*.idt";
  FindHandle search(FindFirstFileW(pattern.c_str(), &found));
  if (!search) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
      PrintLine(L"import " + pattern + L": " + std::to_wstring(GetLastError()));
    return;
  }
  do {
    const UINT result = MsiDatabaseImportW(database, folder.c_str(), found.cFileName);
    if (result != ERROR_SUCCESS)
      PrintLine(std::wstring(L"import ") + found.cFileName + L": " + std::to_wstring(result));
  } while (FindNextFileW(search.get(), &found));
}

static void AddMissingTable(MSIHANDLE database, const wchar_t* table, const wchar_t* create) {
  if (MsiDatabaseIsTablePersistentW(database, table) == MSICONDITION_NONE)
    Execute(database, create);
}

// An INSERT whose key is already there fails and leaves the row as it was.
static void AddBaseRows(MSIHANDLE database) {
  AddMissingTable(database, L"Property",
                  L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT "
                  L"NULL PRIMARY KEY `Property`)");
  AddMissingTable(database, L"Error",
                  L"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE "
                  L"PRIMARY KEY `Error`)");
  static const wchar_t* kProperties[][2] = {
      {L"ProductCode", L"{8D3B4F3A-7C2E-4A61-9B0E-5C1F2A3D4E01}"},
      {L"ProductName", L"kvca scratch package"},
      {L"ProductVersion", L"1.0.0"},
      {L"ProductLanguage", L"1033"},
      {L"Manufacturer", L"Korvex"}};
  for (const auto& property : kProperties)
    Execute(database, std::wstring(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('") +
                          property[0] + L"', '" + property[1] + L"')");
  Execute(database, L"INSERT INTO `Error` (`Error`, `Message`) VALUES (666, 'Error 666 [2] / [3] / [4]')");
  Execute(database,
          L"INSERT INTO `Error` (`Error`, `Message`) VALUES (1923, 'Service [2] could not be installed: [3]')");
}

static UINT WriteSummary(MSIHANDLE database) {
  MsiHandle summary;
  UINT result = MsiGetSummaryInformationW(database, nullptr, 4, summary.put());
  if (result != ERROR_SUCCESS) return result;
  MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_TEMPLATE, VT_LPSTR, 0, nullptr, L"x64;1033");
  MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr,
                             L"{0E2C8B1A-3D4F-4E5A-8B6C-7D8E9F0A1B2C}");
  MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
  MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
  return MsiSummaryInfoPersist(summary.get());
}

UINT TemporaryPackage::Scratch(const std::wstring& tablesFolder) {
  if (const UINT made = MakeName()) return made;
  MsiHandle database;
  UINT result = MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_CREATE, database.put());
  if (result != ERROR_SUCCESS) return result;
  if (!tablesFolder.empty()) ImportTables(database.get(), tablesFolder);
  AddBaseRows(database.get());
  result = WriteSummary(database.get());
  return result != ERROR_SUCCESS ? result : MsiDatabaseCommit(database.get());
}

}  // namespace kvca::run
