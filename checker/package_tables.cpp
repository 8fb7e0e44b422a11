#include "checker/package_tables.h"

#include <msiquery.h>

#include <functional>

#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca::check {
namespace {

std::wstring Text(MSIHANDLE record, UINT field) {
  std::wstring text;
  ReadRecordString(record, field, text);
  return text;
}

// Calls `row` for every record of the query; nothing when a table is missing.
void ForEachRow(MSIHANDLE database, const wchar_t* query, const std::function<void(MSIHANDLE)>& row) {
  DatabaseView view;
  if (view.Open(database, query) != ERROR_SUCCESS || view.Execute() != ERROR_SUCCESS) return;
  MsiHandle record;
  while (view.Fetch(record) == ERROR_SUCCESS) row(record.get());
}

std::vector<Column> Columns(MSIHANDLE database, const std::wstring& table) {
  std::vector<Column> columns;
  DatabaseView view;
  if (view.Open(database, (L"SELECT * FROM `" + table + L"`").c_str()) != ERROR_SUCCESS) return columns;
  MsiHandle names, types;
  if (MsiViewGetColumnInfo(view.get(), MSICOLINFO_NAMES, names.put()) != ERROR_SUCCESS ||
      MsiViewGetColumnInfo(view.get(), MSICOLINFO_TYPES, types.put()) != ERROR_SUCCESS)
    return columns;
  const UINT count = MsiRecordGetFieldCount(names.get());
  for (UINT n = 1; n <= count; ++n) columns.push_back({Text(names.get(), n), Text(types.get(), n)});
  return columns;
}

void ReadSequence(MSIHANDLE database, const wchar_t* table, PackageTables& tables) {
  const std::wstring query =
      std::wstring(L"SELECT `Action`, `Condition`, `Sequence` FROM `") + table + L"`";
  ForEachRow(database, query.c_str(), [&](MSIHANDLE row) {
    tables.sequences.push_back({table, Text(row, 1), Text(row, 2), MsiRecordGetInteger(row, 3)});
  });
}

// Properties that AppSearch fills from the user's own registry hive or files.
void ReadUserSearches(MSIHANDLE database, PackageTables& tables) {
  std::set<std::wstring> userSignatures;
  ForEachRow(database, L"SELECT `Signature_`, `Root` FROM `RegLocator`", [&](MSIHANDLE row) {
    const int root = MsiRecordGetInteger(row, 2);  // HKCR merges the user's classes; HKCU; HKU
    if (root == 0 || root == 1 || root == 3) userSignatures.insert(Text(row, 1));
  });
  ForEachRow(database, L"SELECT `Signature_` FROM `IniLocator`",
             [&](MSIHANDLE row) { userSignatures.insert(Text(row, 1)); });
  ForEachRow(database, L"SELECT `Property`, `Signature_` FROM `AppSearch`", [&](MSIHANDLE row) {
    if (userSignatures.count(Text(row, 2))) tables.userSearchedProperties[Text(row, 1)] = Text(row, 2);
  });
}

}  // namespace

const CustomActionRow* PackageTables::FindAction(const std::wstring& name) const {
  for (const CustomActionRow& row : actions)
    if (row.action == name) return &row;
  return nullptr;
}

const SequenceRow* PackageTables::FindSequence(const std::wstring& table, const std::wstring& action) const {
  for (const SequenceRow& row : sequences)
    if (row.table == table && row.action == action) return &row;
  return nullptr;
}

UINT ReadPackageTables(const std::wstring& path, PackageTables& tables) {
  MsiHandle database;
  const UINT opened = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.put());
  if (opened != ERROR_SUCCESS) return opened;
  const MSIHANDLE db = database.get();
  ForEachRow(db, L"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`", [&](MSIHANDLE row) {
    tables.actions.push_back({Text(row, 1), MsiRecordGetInteger(row, 2), Text(row, 3), Text(row, 4)});
  });
  for (const wchar_t* table : {L"InstallExecuteSequence", L"InstallUISequence", L"AdminExecuteSequence"})
    ReadSequence(db, table, tables);
  ForEachRow(db, L"SELECT `Property`, `Value` FROM `Property`",
             [&](MSIHANDLE row) { tables.properties[Text(row, 1)] = Text(row, 2); });
  ForEachRow(db, L"SELECT `Error` FROM `Error`",
             [&](MSIHANDLE row) { tables.errors.insert(MsiRecordGetInteger(row, 1)); });
  ForEachRow(db, L"SELECT `Name` FROM `Binary`", [&](MSIHANDLE row) { tables.binaries.insert(Text(row, 1)); });
  ForEachRow(db, L"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
             [&](MSIHANDLE row) { tables.directories[Text(row, 1)] = {Text(row, 2), Text(row, 3)}; });
  ForEachRow(db, L"SELECT `Component`, `Directory_` FROM `Component`",
             [&](MSIHANDLE row) { tables.componentDirectory[Text(row, 1)] = Text(row, 2); });
  ForEachRow(db, L"SELECT `File`, `Component_` FROM `File`",
             [&](MSIHANDLE row) { tables.fileComponent[Text(row, 1)] = Text(row, 2); });
  ForEachRow(db, L"SELECT `Component` FROM `KVDriverPackages`",
             [&](MSIHANDLE row) { tables.driverComponents.push_back(Text(row, 1)); });
  // The query ProcessPropertyEx runs, so the rows come in the order it sees.
  ForEachRow(db, L"SELECT `Property`, `Value`, `Flags`, `Condition` FROM `PropertyEx`", [&](MSIHANDLE row) {
    tables.propertyEx.push_back({Text(row, 1), Text(row, 2), Text(row, 4)});
  });
  ForEachRow(db, L"SELECT `Type`, `Name`, `Parameter`, `Value`, `ListProperty` FROM `RegReaders`", [&](MSIHANDLE row) {
    tables.regReaders.push_back({Text(row, 1) + L"\\" + Text(row, 2) + L"\\" + Text(row, 3), Text(row, 4), Text(row, 5)});
  });
  ReadUserSearches(db, tables);
  for (const wchar_t* table : {L"KVDriverPackages", L"RegReaders", L"PropertyEx"})
    tables.tableColumns[table] = Columns(db, table);
  return ERROR_SUCCESS;
}

}  // namespace kvca::check
