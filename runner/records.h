// What kvca-run prints: records, fields and texts in one notation, as UTF-8
// lines on standard output.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

namespace kvca::run {

// A text in double quotes with \" \\ \n \r \t, U+0001 as U+2401 and other
// control characters as \u{HHHH}. A text of more than 1000 characters shows as
// its first 40 and last 20: "head"…"tail" (N characters).
std::wstring Quoted(const std::wstring& text);

// A record field's text; empty when it has none.
std::wstring FieldText(MSIHANDLE record, UINT field);

// A record field: null, a bare integer, the quoted text, or a stream's size.
std::wstring FieldNotation(MSIHANDLE record, UINT field);

// Writes one line as UTF-8, whatever the console's code page.
void PrintLine(const std::wstring& line);

// The message types an action can send; every record of them goes to the
// handler, which prints it while printing is on.
void CaptureRecords();
void PrintRecords(bool on);

}  // namespace kvca::run
