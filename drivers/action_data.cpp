#include "drivers/action_data.h"

#include <msiquery.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>

namespace kvca {

namespace {

std::unique_ptr<wchar_t[]> AllocateText(size_t count) {
  return std::unique_ptr<wchar_t[]>(new (std::nothrow) wchar_t[count]());
}

// The text after the first separator in `text`, or its end when there is none.
const wchar_t* AfterSeparator(const wchar_t* text) {
  const wchar_t* separator = wcschr(text, kDataSeparator);
  return separator ? separator + 1 : text + wcslen(text);
}

void CutAtSeparator(wchar_t* text) {
  if (wchar_t* separator = wcschr(text, kDataSeparator)) *separator = L'\0';
}

}  // namespace

bool ParseDriverActionData(MSIHANDLE install, DriverActionData& data) {
  wchar_t empty[1] = {L'\0'};
  DWORD length = 0;
  MsiGetPropertyW(install, L"CustomActionData", empty, &length);
  auto text = AllocateText(static_cast<size_t>(length) + 1);
  if (!text) return false;
  DWORD size = length + 1;
  if (MsiGetPropertyW(install, L"CustomActionData", text.get(), &size) != ERROR_SUCCESS) return false;
  text[length] = L'\0';
  return SplitDriverActionData(text.get(), data);
}

bool SplitDriverActionData(const wchar_t* text, DriverActionData& data) {
  const size_t capacity = wcslen(text) + 1;
  auto path = AllocateText(capacity);
  auto rest = AllocateText(capacity);
  auto scratch = AllocateText(capacity);
  if (!path || !rest || !scratch) return false;
  wcscpy(path.get(), text);

  // Field 2 in the scratch buffer: the long name follows a "|" that stands
  // before the field's end.
  wcscpy(scratch.get(), AfterSeparator(path.get()));
  CutAtSeparator(path.get());
  const wchar_t* fieldEnd = wcschr(scratch.get(), kDataSeparator);
  const wchar_t* bar = wcschr(scratch.get(), L'|');
  const wchar_t* name = (bar && (!fieldEnd || bar < fieldEnd)) ? bar + 1 : scratch.get();
  const size_t nameLength = fieldEnd ? static_cast<size_t>(fieldEnd - name) : wcslen(name);
  wcsncat(path.get(), name, nameLength);

  // Field 3 in the rest buffer, fields 4 and 5 after it.
  wcscpy(rest.get(), fieldEnd ? fieldEnd + 1 : L"");
  wchar_t* flagsText = rest.get() + wcslen(rest.get());
  if (wchar_t* separator = wcschr(rest.get(), kDataSeparator)) {
    *separator = L'\0';
    flagsText = separator + 1;
  }
  data.flags = static_cast<DWORD>(_wtol(flagsText));
  data.progressTicks = 0;
  if (*flagsText != L'\0') {
    if (const wchar_t* separator = wcschr(flagsText + 1, kDataSeparator))
      data.progressTicks = _wtol(separator + 1);
  }

  data.infPath = path.get();
  data.componentId = rest.get();
  return true;
}

}  // namespace kvca
