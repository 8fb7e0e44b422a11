#include "runner/records.h"

#include <msiquery.h>

#include <cstdio>

namespace kvca::run {

static bool printing = false;

static std::wstring QuotedWhole(const std::wstring& text);

// A text of more than 1000 characters shows its first 40 and its last 20.
std::wstring Quoted(const std::wstring& text) {
  if (text.size() <= 1000) return QuotedWhole(text);
  return QuotedWhole(text.substr(0, 40)) + L"\x2026" + QuotedWhole(text.substr(text.size() - 20)) + L" (" +
         std::to_wstring(text.size()) + L" characters)";
}

static std::wstring QuotedWhole(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (const wchar_t ch : text) {
    switch (ch) {
      case L'"': quoted += L"\\\""; break;
      case L'\\': quoted += L"\\\\"; break;
      case L'\n': quoted += L"\\n"; break;
      case L'\r': quoted += L"\\r"; break;
      case L'\t': quoted += L"\\t"; break;
      case L'\x0001': quoted += L'\x2401'; break;
      default:
        if (ch < 0x20) {
          wchar_t escape[16];
          swprintf(escape, 16, L"\\u{%04X}", static_cast<unsigned>(ch));
          quoted += escape;
        } else {
          quoted += ch;
        }
    }
  }
  return quoted + L"\"";
}

std::wstring FieldText(MSIHANDLE record, UINT field) {
  wchar_t empty[1] = {};
  DWORD size = 0;
  MsiRecordGetStringW(record, field, empty, &size);
  std::wstring text(size + 1, L'\0');
  ++size;
  if (MsiRecordGetStringW(record, field, &text[0], &size) != ERROR_SUCCESS) return {};
  text.resize(size);
  return text;
}

// A stream has a size but no text.
static bool IsStream(MSIHANDLE record, UINT field) {
  return MsiRecordDataSize(record, field) > 0 && FieldText(record, field).empty();
}

static std::wstring Notation(MSIHANDLE record, UINT field, const std::wstring& text) {
  if (MsiRecordIsNull(record, field)) return L"null";
  if (IsStream(record, field))
    return L"stream(" + std::to_wstring(MsiRecordDataSize(record, field)) + L")";
  const int integer = MsiRecordGetInteger(record, field);
  if (integer != static_cast<int>(MSI_NULL_INTEGER) && text == std::to_wstring(integer)) return text;
  return Quoted(text);
}

std::wstring FieldNotation(MSIHANDLE record, UINT field) {
  return Notation(record, field, FieldText(record, field));
}

void PrintLine(const std::wstring& line) {
  const std::wstring withEnd = line + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, withEnd.data(), static_cast<int>(withEnd.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, withEnd.data(), static_cast<int>(withEnd.size()), &bytes[0], size,
                      nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);  // what an action printed before it crashed is kept
}

static std::wstring TypeName(UINT type) {
  switch (type) {
    case INSTALLMESSAGE_INFO: return L"INFO";
    case INSTALLMESSAGE_ERROR: return L"ERROR";
    case INSTALLMESSAGE_WARNING: return L"WARNING";
    case INSTALLMESSAGE_USER: return L"USER";
    case INSTALLMESSAGE_FATALEXIT: return L"FATALEXIT";
    case INSTALLMESSAGE_PROGRESS: return L"PROGRESS";
    case INSTALLMESSAGE_ACTIONSTART: return L"ACTIONSTART";
    case INSTALLMESSAGE_ACTIONDATA: return L"ACTIONDATA";
  }
  wchar_t name[32];
  swprintf(name, 32, L"TYPE 0x%08X", type);
  return name;
}

// Wine puts the message type's header from its own message table in front of
// field 0; Windows does not.
static void RemoveWineHeader(UINT type, std::wstring& text) {
  static const struct {
    UINT type;
    const wchar_t* header;
  } kHeaders[] = {{INSTALLMESSAGE_FATALEXIT, L"{{Fatal error: }}"},
                  {INSTALLMESSAGE_ERROR, L"{{Error [1]. }}"},
                  {INSTALLMESSAGE_WARNING, L"Warning [1]."},
                  {INSTALLMESSAGE_INFO, L"Info [1]."},
                  {INSTALLMESSAGE_OUTOFDISKSPACE, L"{{Disk full: }}"}};
  for (const auto& known : kHeaders) {
    const std::wstring header = known.header;
    if (known.type == type && text.compare(0, header.size(), header) == 0) text.erase(0, header.size());
  }
}

static INT CALLBACK PrintRecord(LPVOID, UINT message, MSIHANDLE record) {
  const UINT type = message & 0xFF000000;
  if (printing && record) {
    std::wstring line = TypeName(type) + L":";
    const UINT count = MsiRecordGetFieldCount(record);
    for (UINT field = 0; field <= count; ++field) {
      std::wstring text = FieldText(record, field);
      if (field == 0) RemoveWineHeader(type, text);
      line += (field == 0 ? L" " : L" | ") + Notation(record, field, text);
    }
    PrintLine(line);
  }
  return type == INSTALLMESSAGE_ERROR ? IDOK : 0;
}

void CaptureRecords() {
  const DWORD filter = INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                       INSTALLLOGMODE_USER | INSTALLLOGMODE_INFO | INSTALLLOGMODE_OUTOFDISKSPACE |
                       INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                       INSTALLLOGMODE_PROGRESS;
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(&PrintRecord, filter, nullptr, nullptr);
}

void PrintRecords(bool on) { printing = on; }

}  // namespace kvca::run
