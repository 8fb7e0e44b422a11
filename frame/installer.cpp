#include "frame/installer.h"

#include "frame/handles.h"

namespace kvca {

PropertyReadSteps ReadPropertySteps(MSIHANDLE install, const wchar_t* name, std::wstring& value) {
  value.clear();
  wchar_t empty[1] = {L'\0'};
  DWORD size = 0;
  PropertyReadSteps steps{MsiGetPropertyW(install, name, empty, &size), ERROR_SUCCESS};
  if (steps.probe != ERROR_MORE_DATA) return steps;

  std::wstring buffer(static_cast<size_t>(size) + 1, L'\0');
  DWORD capacity = size + 1;
  steps.read = MsiGetPropertyW(install, name, &buffer[0], &capacity);
  if (steps.read != ERROR_SUCCESS) return steps;
  buffer.resize(buffer.find(L'\0'));
  value = std::move(buffer);
  return steps;
}

UINT ReadProperty(MSIHANDLE install, const wchar_t* name, std::wstring& value) {
  PropertyReadSteps steps = ReadPropertySteps(install, name, value);
  return steps.probe == ERROR_MORE_DATA ? steps.read : steps.probe;
}

UINT ReadCustomActionData(MSIHANDLE install, std::wstring& value) {
  return ReadProperty(install, L"CustomActionData", value);
}

UINT ReadPropertyFixed(MSIHANDLE install, const wchar_t* name, wchar_t* buffer, DWORD capacity) {
  DWORD size = capacity;
  return MsiGetPropertyW(install, name, buffer, &size);
}

UINT ReadRecordString(MSIHANDLE record, UINT field, std::wstring& text) {
  DWORD size = MsiRecordDataSize(record, field) + 1;
  std::wstring buffer(size, L'\0');
  const UINT result = MsiRecordGetStringW(record, field, &buffer[0], &size);
  buffer.resize(buffer.find(L'\0'));
  text = std::move(buffer);
  return result;
}

static void Send(MSIHANDLE install, INSTALLMESSAGE type, const MsiHandle& record) {
  if (record) MsiProcessMessage(install, type, record.get());
}

void LogInfo(MSIHANDLE install, const std::wstring& text, DWORD number) {
  MsiHandle record(MsiCreateRecord(1));
  if (!record) return;
  MsiRecordSetStringW(record.get(), 0, text.c_str());
  if (text.find(L"[1]") != std::wstring::npos)
    MsiRecordSetInteger(record.get(), 1, static_cast<int>(number));
  Send(install, INSTALLMESSAGE_INFO, record);
}

void ReportErrorRecord(MSIHANDLE install, const std::wstring& source, const std::wstring& text,
                       DWORD code) {
  MsiHandle record(MsiCreateRecord(4));
  if (!record) return;
  MsiRecordSetInteger(record.get(), 1, 666);
  MsiRecordSetStringW(record.get(), 2, source.c_str());
  MsiRecordSetStringW(record.get(), 3, text.c_str());
  MsiRecordSetInteger(record.get(), 4, static_cast<int>(code));
  Send(install, INSTALLMESSAGE_ERROR, record);
}

void ReportServiceError(MSIHANDLE install, DWORD code, const std::wstring& serviceName) {
  MsiHandle record(MsiCreateRecord(3));
  if (!record) return;
  MsiRecordSetInteger(record.get(), 1, 1923);
  MsiRecordSetStringW(record.get(), 2, serviceName.c_str());
  MsiRecordSetInteger(record.get(), 3, static_cast<int>(code));
  Send(install, INSTALLMESSAGE_ERROR, record);
}

}  // namespace kvca
