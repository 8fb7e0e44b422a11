// ProcessPropertyEx: installer properties computed from the package's PropertyEx
// table. Rows are applied in the order the database returns them, so a row sees
// what the rows before it set. Immediate; sends no messages; the first failure
// ends the action with 1603 and leaves what earlier rows set in place.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

#include <msiquery.h>

#include <cwchar>

namespace kvca {

static const wchar_t kPropertyExQuery[] =
    L"SELECT `Property`, `Value`, `Flags`, `Condition` FROM `PropertyEx`";

enum PropertyExColumn : UINT { kPropertyColumn = 1, kValueColumn, kFlagsColumn, kConditionColumn };

// Bit 0 of Flags: the row's value replaces one the property already has.
constexpr int kReplaceExisting = 0x1;

// Buffers with room for the terminator: a 72-character property name, and a
// value, condition and formatted value of 255 characters each.
constexpr DWORD kPropertyCapacity = 73;
constexpr DWORD kTextCapacity = 256;

struct PropertyExRow {
  wchar_t property[kPropertyCapacity];
  wchar_t value[kTextCapacity];
  wchar_t condition[kTextCapacity];
  int flags;
};

static bool ReadField(MSIHANDLE record, UINT field, wchar_t* buffer, DWORD capacity) {
  DWORD size = capacity;
  return MsiRecordGetStringW(record, field, buffer, &size) == ERROR_SUCCESS;
}

static bool ReadRow(MSIHANDLE record, PropertyExRow& row) {
  if (!ReadField(record, kPropertyColumn, row.property, kPropertyCapacity) ||
      !ReadField(record, kValueColumn, row.value, kTextCapacity) ||
      !ReadField(record, kConditionColumn, row.condition, kTextCapacity))
    return false;
  row.flags = MsiRecordGetInteger(record, kFlagsColumn);
  return row.flags != static_cast<int>(MSI_NULL_INTEGER);
}

// A property that holds the single character "0" is switched off: it is
// removed and the row's value is not applied. Any other single character stays.
static bool ClearIfZero(MSIHANDLE install, const wchar_t* property) {
  wchar_t current[2] = {};
  DWORD size = 2;
  if (MsiGetPropertyW(install, property, current, &size) != ERROR_SUCCESS) return false;
  if (std::wcscmp(current, L"0") != 0) return true;
  return MsiSetPropertyW(install, property, L"") == ERROR_SUCCESS;
}

static bool SetFormattedValue(MSIHANDLE install, const PropertyExRow& row) {
  MsiHandle record(MsiCreateRecord(0));
  if (!record || MsiRecordSetStringW(record.get(), 0, row.value) != ERROR_SUCCESS) return false;
  wchar_t formatted[kTextCapacity] = {};
  DWORD size = kTextCapacity;
  if (MsiFormatRecordW(install, record.get(), formatted, &size) != ERROR_SUCCESS) return false;
  record.reset();
  return MsiSetPropertyW(install, row.property, formatted) == ERROR_SUCCESS;
}

static bool ApplyRow(MSIHANDLE install, const PropertyExRow& row) {
  switch (MsiEvaluateConditionW(install, row.condition)) {
    case MSICONDITION_FALSE:
      return true;
    case MSICONDITION_TRUE:
    case MSICONDITION_NONE:
      break;
    default:
      return false;
  }

  // The probe with an empty buffer always answers ERROR_MORE_DATA, with the
  // length of the current value; anything else is a failure.
  wchar_t empty[1] = {L'\0'};
  DWORD length = 0;
  if (MsiGetPropertyW(install, row.property, empty, &length) != ERROR_MORE_DATA) return false;

  if (length == 0 || (row.flags & kReplaceExisting) != 0) return SetFormattedValue(install, row);
  if (length == 1) return ClearIfZero(install, row.property);
  return true;
}

static UINT ProcessTable(MSIHANDLE install) {
  MsiHandle database(MsiGetActiveDatabase(install));
  if (!database) return ERROR_INSTALL_FAILURE;
  DatabaseView view;
  if (view.Open(database.get(), kPropertyExQuery) != ERROR_SUCCESS || view.Execute() != ERROR_SUCCESS)
    return ERROR_INSTALL_FAILURE;

  for (;;) {
    MsiHandle record;
    const UINT fetched = view.Fetch(record);
    if (fetched == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (fetched != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;

    PropertyExRow row = {};
    if (!ReadRow(record.get(), row)) return ERROR_INSTALL_FAILURE;
    record.reset();
    if (!ApplyRow(install, row)) return ERROR_INSTALL_FAILURE;
  }
}

}  // namespace kvca

KVCA_ACTION ProcessPropertyEx(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::ProcessTable(install); });
}
