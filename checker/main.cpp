// kvca-check: reads an installation package and reports every kvca action it
// binds wrongly, and every input a user can choose that reaches an action
// running as the local system. Exit code 0: no error found; 1: errors found;
// 2: nothing could be checked (no package, a file that is none, bad usage).
// `--reference ACTIONS.md` compares the action reference with the catalogue.
#include <windows.h>

#include <algorithm>
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

std::wstring Plural(size_t count, const wchar_t* word) {
  return std::to_wstring(count) + L" " + word + (count == 1 ? L"" : L"s");
}

int CheckReferenceFile(const std::wstring& path) {
  std::vector<std::wstring> lines;
  const size_t disagreements = kvca::check::CheckReference(path, lines);
  for (const std::wstring& line : lines) PrintLine(line);
  PrintLine(disagreements ? Plural(disagreements, L"disagreement") + L" with the catalogue"
                          : L"the reference agrees with the catalogue: " +
                                Plural(kvca::check::Exports().size(), L"export"));
  return disagreements ? 1 : 0;
}

// What the package holds of the library: the actions and the tables they read.
std::wstring CheckedText(const kvca::check::PackageTables& tables) {
  using namespace kvca::check;
  const std::vector<BoundAction> bound = KvcaActions(tables);
  std::wstring read;
  for (const wchar_t* table : {L"KVDriverPackages", L"RegReaders", L"PropertyEx"})
    for (const BoundAction& action : bound)
      if (action.info && std::any_of(action.info->reads.begin(), action.info->reads.end(), [&](const Input& in) {
            return in.source == Source::Table && in.name == std::wstring(table);
          })) {
        read += (read.empty() ? L", tables " : L", ") + std::wstring(table);
        break;
      }
  return Plural(bound.size(), L"kvca action") + (read.empty() ? L", none of the library's tables" : read);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace kvca::check;
  if (argc == 2 && wcscmp(argv[1], L"--version") == 0) {
    printf("kvca-check %s\n", KVCA_VERSION);
    return 0;
  }
  if (argc == 3 && std::wstring(argv[1]) == L"--reference") return CheckReferenceFile(argv[2]);
  if (argc != 2) {
    PrintLine(L"usage: kvca-check PACKAGE.msi | kvca-check --reference ACTIONS.md | kvca-check --version");
    return 2;
  }
  const std::wstring path = argv[1];
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    PrintLine(L"kvca-check: " + path + L" cannot be read (error " + std::to_wstring(code) + L")");
    return 2;
  }
  PackageTables tables;
  const UINT opened = ReadPackageTables(path, tables);
  if (opened != ERROR_SUCCESS) {
    PrintLine(L"kvca-check: " + path + L" is not an installation package (error " + std::to_wstring(opened) + L")");
    return 2;
  }
  std::vector<Finding> findings;
  if (KvcaActions(tables).empty())
    findings.push_back({false, L"CustomAction", L"", L"",
                        L"no row calls an export of kvca.dll: nothing of the library to check"});
  CheckBindings(tables, findings);
  CheckUserInput(tables, findings);
  size_t errors = 0;
  for (const Finding& finding : findings) {
    errors += finding.error;
    PrintLine(FindingLine(finding));
  }
  PrintLine(L"checked " + CheckedText(tables) + L": " + Plural(errors, L"error") + L", " +
            Plural(findings.size() - errors, L"note"));
  fflush(stdout);
  return errors ? 1 : 0;
}
