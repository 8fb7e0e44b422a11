// ProcessRegReaders: RegReaders rows become temporary Registry rows.
#include "readers/reader_table.h"

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"
#include "frame/wide.h"

#include <msiquery.h>

#include <utility>

namespace kvca {

static const wchar_t kRegReadersQuery[] =
    L"SELECT `RegReaders`.`Type`, `RegReaders`.`Name`, `RegReaders`.`Parameter`, "
    L"`RegReaders`.`Value`, `RegReaders`.`Component_`, `RegReaders`.`Condition`, "
    L"`RegReaders`.`ListProperty` FROM `RegReaders`";
static const wchar_t kRegistryQuery[] =
    L"SELECT `Registry`.`Registry`, `Registry`.`Root`, `Registry`.`Key`, `Registry`.`Name`, "
    L"`Registry`.`Value`, `Registry`.`Component_` FROM `Registry`";

static const wchar_t kSmartCardRoot[] = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\";
static const wchar_t kCarrierRoot[] = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion\\";
static const wchar_t kSmartCardType[] = L"WLSC";
static const wchar_t kDefaultValueName[] = L"-";

// The Registry table's code for HKEY_LOCAL_MACHINE.
constexpr int kRootLocalMachine = 2;

UINT WriteToRegistryTable(MSIHANDLE install, const std::wstring& identifier,
                          const std::wstring& key, const std::wstring& name,
                          const std::wstring& data, const std::wstring& component) {
  MsiHandle database(MsiGetActiveDatabase(install));
  if (!database) return ERROR_SUCCESS;

  // The table's first row is fetched only for a record of the table's shape;
  // an empty table gets nothing.
  DatabaseView view;
  MsiHandle record;
  if (view.Open(database.get(), kRegistryQuery) != ERROR_SUCCESS || view.Execute() != ERROR_SUCCESS ||
      view.Fetch(record) != ERROR_SUCCESS)
    return ERROR_SUCCESS;

  UINT result = MsiRecordSetStringW(record.get(), 1, identifier.c_str());
  result |= MsiRecordSetInteger(record.get(), 2, kRootLocalMachine);
  result |= MsiRecordSetStringW(record.get(), 3, key.c_str());
  result |= MsiRecordSetStringW(record.get(), 4, name.c_str());
  result |= MsiRecordSetStringW(record.get(), 5, data.c_str());
  result |= MsiRecordSetStringW(record.get(), 6, component.c_str());
  result |= MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get());
  if (result != ERROR_SUCCESS)
    ReportErrorRecord(install, L"WriteToRegistryTable", L"WriteToRegistry()", result);
  return result;
}

static UINT WriteRow(MSIHANDLE install, const RegReaderRow& row, const std::wstring& key,
                     const std::wstring& identifier) {
  return WriteToRegistryTable(install, identifier, key, row.parameter, row.value, row.component);
}

// One row per item of `list`, each item a subkey below the carrier's key.
// Items are taken as they stand: blanks kept, an empty item is an empty subkey.
// The walk moves along the list instead of cutting items off its front, which
// would copy the rest of the list once per item.
static UINT WriteListRows(MSIHANDLE install, const RegReaderRow& row, const std::wstring& list) {
  const std::wstring carrierKey = kCarrierRoot + row.type + L"\\" + row.name + L"\\";
  UINT result = ERROR_SUCCESS;
  for (size_t item = 0;;) {
    const int comma = Find(list, L',', item);
    const std::wstring key = carrierKey + (comma < 0 ? Mid(list, item) : Mid(list, item, comma - item));
    result |= WriteRow(install, row, key, key + L"\\" + row.parameter);
    if (comma < 0) return result;
    item = comma + 1;
  }
}

UINT PrepareToWrite(MSIHANDLE install, RegReaderRow row) {
  if (row.parameter == kDefaultValueName) row.parameter.clear();

  // An unset or empty list property leaves the list empty: one empty item.
  std::wstring list;
  if (!row.listProperty.empty() &&
      ReadPropertySteps(install, row.listProperty.c_str(), list).ReadFailed()) {
    const DWORD error = GetLastError();
    ReportErrorRecord(install, L"PrepareToWrite", L"MsiGetProperty() fail", error);
    return error;
  }

  UINT result = ERROR_SUCCESS;
  if (row.type == kSmartCardType) {
    const std::wstring key = kSmartCardRoot + row.name;
    result = WriteRow(install, row, key, key + L"\\" + row.parameter + L"_" + row.component);
  } else if (row.listProperty.empty()) {
    const std::wstring key = kCarrierRoot + row.type + L"\\" + row.name;
    result = WriteRow(install, row, key, key + L"\\" + row.parameter);
  } else {
    result = WriteListRows(install, row, list);
  }
  if (result != ERROR_SUCCESS)
    ReportErrorRecord(install, L"PrepareToWrite", L"PrepareToWrite() fail", result);
  return result;
}

static UINT ReadRow(MSIHANDLE record, RegReaderRow& row) {
  std::wstring* const columns[] = {&row.type,      &row.name,      &row.parameter,
                                   &row.value,     &row.component, &row.condition,
                                   &row.listProperty};
  UINT result = ERROR_SUCCESS;
  for (UINT field = 1; field <= 7; ++field) result |= ReadRecordString(record, field, *columns[field - 1]);
  return result;
}

static std::wstring LogLine(const RegReaderRow& row) {
  std::wstring line;
  for (const std::wstring* column : {&row.type, &row.name, &row.parameter, &row.value,
                                     &row.component, &row.condition, &row.listProperty})
    line += *column + L";";
  return line;
}

static bool ComponentGoesLocal(MSIHANDLE install, const std::wstring& component) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  return MsiGetComponentStateW(install, component.c_str(), &installed, &action) == ERROR_SUCCESS &&
         action == INSTALLSTATE_LOCAL;
}

// Logs the row, then writes it when its condition holds and its component is
// being installed locally. Returns what goes into the action's result.
static UINT ProcessRow(MSIHANDLE install, RegReaderRow row) {
  LogInfo(install, LogLine(row), 0);
  switch (MsiEvaluateConditionW(install, row.condition.c_str())) {
    case MSICONDITION_TRUE:
      break;
    case MSICONDITION_FALSE:
      return ERROR_SUCCESS;
    default:  // empty or malformed
      ReportErrorRecord(install, L"ProcessRegReaders", L"Invalid Condition in RegReader Table",
                        ERROR_INVALID_DATA);
      return ERROR_SUCCESS;
  }
  if (!ComponentGoesLocal(install, row.component)) return ERROR_SUCCESS;
  // The thread's last error, not PrepareToWrite's code, goes into the result.
  return PrepareToWrite(install, std::move(row)) != ERROR_SUCCESS ? GetLastError() : ERROR_SUCCESS;
}

static UINT ProcessTable(MSIHANDLE install) {
  MsiHandle database(MsiGetActiveDatabase(install));
  if (!database || MsiDatabaseIsTablePersistentW(database.get(), L"RegReaders") != MSICONDITION_TRUE) {
    const DWORD error = GetLastError();
    ReportErrorRecord(install, L"ProcessRegReaders", L"ProcessRegReaders fail", error);
    return error;
  }

  DatabaseView view;
  if (view.Open(database.get(), kRegReadersQuery) != ERROR_SUCCESS || view.Execute() != ERROR_SUCCESS)
    return ERROR_SUCCESS;

  // Any fetch answer other than a row (the end, or a failed view) ends the loop.
  UINT result = ERROR_SUCCESS;
  MsiHandle record;
  while (view.Fetch(record) == ERROR_SUCCESS) {
    RegReaderRow row;
    result |= ReadRow(record.get(), row);
    result |= ProcessRow(install, std::move(row));
    record.reset();
  }
  return result;
}

}  // namespace kvca

KVCA_ACTION ProcessRegReaders(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::ProcessTable(install); });
}
