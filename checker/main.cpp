// kvca-check: reads an installation package and reports every kvca action it
// binds wrongly, and every input a user can choose that reaches an action
// running as the local system. Exit code 0: no error found; 1: errors found;
// 2: the package cannot be read.
#include <windows.h>

#include <cstdio>
#include <string>

#include "checker/findings.h"

namespace {

void PrintLine(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  fwrite(utf8.data(), 1, utf8.size(), stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace kvca::check;
  if (argc == 2 && wcscmp(argv[1], L"--version") == 0) {
    printf("kvca-check %s\n", KVCA_VERSION);
    return 0;
  }
  if (argc != 2) {
    fputs("usage: kvca-check PACKAGE.msi | --version\n", stderr);
    return 2;
  }
  PackageTables tables;
  const UINT opened = ReadPackageTables(argv[1], tables);
  if (opened != ERROR_SUCCESS) {
    fprintf(stderr, "kvca-check: cannot open %ls: %u\n", argv[1], opened);
    return 2;
  }
  std::vector<Finding> findings;
  CheckBindings(tables, findings);
  CheckUserInput(tables, findings);
  size_t errors = 0;
  for (const Finding& finding : findings) {
    errors += finding.error;
    PrintLine(std::wstring(finding.error ? L"error: " : L"note: ") + finding.row + L": " + finding.text);
  }
  PrintLine(std::to_wstring(errors) + L" errors, " + std::to_wstring(findings.size() - errors) + L" notes");
  fflush(stdout);
  return errors ? 1 : 0;
}
