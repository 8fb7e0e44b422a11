// Reading installer properties and sending the three message forms.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "frame/handles.h"

namespace kvca {

// Separates the fields of the CustomActionData texts that this library composes.
constexpr wchar_t kDataSeparator = L'\x0001';

// The installer's two answers to one property read: the length probe with an
// empty buffer and, only when the probe answered ERROR_MORE_DATA, the read.
struct PropertyReadSteps {
  UINT probe;
  UINT read;
  bool ReadFailed() const { return probe == ERROR_MORE_DATA && read != ERROR_SUCCESS; }
};
PropertyReadSteps ReadPropertySteps(MSIHANDLE install, const wchar_t* name, std::wstring& value);

// Length probe, then one read. Result 0: `value` holds the property (empty
// when unset); any other result leaves `value` empty.
UINT ReadProperty(MSIHANDLE install, const wchar_t* name, std::wstring& value);
UINT ReadCustomActionData(MSIHANDLE install, std::wstring& value);

// Reads into a caller's buffer of `capacity` characters; a value that does not
// fit with its terminator fails with ERROR_MORE_DATA.
UINT ReadPropertyFixed(MSIHANDLE install, const wchar_t* name, wchar_t* buffer, DWORD capacity);

// Reads a record's field as text with a buffer of the field's data size plus
// one; returns MsiRecordGetStringW's code.
UINT ReadRecordString(MSIHANDLE record, UINT field, std::wstring& text);

// Information message; field 1 carries `number` only when the text holds "[1]".
void LogInfo(MSIHANDLE install, const std::wstring& text, DWORD number = 0);

// Error record 666: source, text and code for the package's Error table.
void ReportErrorRecord(MSIHANDLE install, const std::wstring& source, const std::wstring& text,
                       DWORD code);

// The installer's service error 1923: service name and Win32 code.
void ReportServiceError(MSIHANDLE install, DWORD code, const std::wstring& serviceName);

// A database view; once executed, it is closed before its handle goes.
class DatabaseView {
 public:
  UINT Open(MSIHANDLE database, const wchar_t* query) {
    return MsiDatabaseOpenViewW(database, query, handle_.put());
  }
  UINT Execute() {
    const UINT result = MsiViewExecute(handle_.get(), 0);
    executed_ = result == ERROR_SUCCESS;
    return result;
  }
  UINT Fetch(MsiHandle& record) { return MsiViewFetch(handle_.get(), record.put()); }
  MSIHANDLE get() const { return handle_.get(); }
  ~DatabaseView() {
    if (executed_) MsiViewClose(handle_.get());
  }

 private:
  MsiHandle handle_;
  bool executed_ = false;
};


}  // namespace kvca
