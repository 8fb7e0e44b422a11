// `kvca-check --reference docs/actions.md`: the action reference states each
// export's kind and binding types on its "- **Kind**:" line, and the types of
// each kind in the table of "Binding an action"; both must say what the
// catalogue says.
#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>

#include "checker/findings.h"
#include "frame/wide.h"

namespace kvca::check {
namespace {

std::wstring Widen(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

// The numbers at the start of a text, joined by "or" or commas, up to the
// first of ":;=()": "3073 or 1025, each with a note" gives 3073 and 1025,
// "3329 (3073 + 256)" 3329, "none" nothing.
std::vector<int> LeadingTypes(const std::wstring& text) {
  std::vector<int> types;
  std::wistringstream words(text.substr(0, text.find_first_of(L":;=()")));
  for (std::wstring word; words >> word;) {
    while (!word.empty() && (word.back() == L',' || word.back() == L';')) word.pop_back();
    if (word == L"or") continue;
    if (word.empty() || word.find_first_not_of(L"0123456789") != std::wstring::npos) break;
    types.push_back(std::stoi(word));
  }
  return types;
}

std::wstring Join(const std::vector<int>& types) {
  std::wstring text;
  for (int type : types) text += (text.empty() ? L"" : L" or ") + std::to_wstring(type);
  return text.empty() ? L"none" : text;
}

std::vector<int> Types(const ExportInfo& info) {
  std::vector<int> types;
  for (const Binding& binding : info.bindings) types.push_back(binding.type);
  return types;
}

const Kind kKinds[] = {Kind::Immediate, Kind::Deferred, Kind::Impersonated, Kind::Rollback, Kind::CommandLine};

// The kind a text starts with, or false.
bool StartsWithKind(const std::wstring& text, Kind& kind) {
  for (Kind candidate : kKinds) {
    const std::wstring name = KindText(candidate);
    if (text.rfind(name, 0) == 0 && (text.size() == name.size() || !iswalpha(text[name.size()]))) {
      kind = candidate;
      return true;
    }
  }
  return false;
}

// The backquoted names of a heading: "### `DelAllReg`, `DelKVCSPs`".
std::vector<std::wstring> HeadingNames(const std::wstring& line) {
  std::vector<std::wstring> names;
  for (size_t open = line.find(L'`'); open != std::wstring::npos; open = line.find(L'`', open + 1)) {
    const size_t close = line.find(L'`', open + 1);
    if (close == std::wstring::npos) break;
    names.push_back(line.substr(open + 1, close - open - 1));
    open = close;
  }
  return names;
}

}  // namespace

size_t CheckReference(const std::wstring& path, std::vector<std::wstring>& lines) {
  std::ifstream file(path.c_str());
  if (!file) {
    lines.push_back(L"kvca-check: cannot read " + path);
    return 1;
  }
  const size_t before = lines.size();
  std::map<std::wstring, int> kindLines;  // export -> Kind lines found
  std::map<Kind, int> kindRows;           // kind -> rows of the binding table
  std::vector<std::wstring> current;
  bool bindingSection = false;
  int number = 0;
  for (std::string raw; std::getline(file, raw);) {
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::wstring line = Widen(raw);
    const std::wstring where = L"line " + std::to_wstring(number) + L": ";
    if (line.rfind(L"#", 0) == 0) {
      bindingSection = line == L"## Binding an action";
      current = line.rfind(L"### ", 0) == 0 ? HeadingNames(line) : std::vector<std::wstring>();
      continue;
    }
    if (bindingSection && line.rfind(L"| ", 0) == 0) {
      const size_t cell = line.find(L" | ", 2);
      Kind kind;
      if (cell == std::wstring::npos || !StartsWithKind(line.substr(2), kind) || line.substr(2, cell - 2) != KindText(kind))
        continue;
      ++kindRows[kind];
      const std::vector<int> types = LeadingTypes(line.substr(cell + 3));
      if (types != KindTypes(kind))
        lines.push_back(where + KindText(kind) + L" lists " + Join(types) + L"; the catalogue: " +
                        Join(KindTypes(kind)));
      continue;
    }
    static const std::wstring kKindLine = L"- **Kind**: ";
    if (line.rfind(kKindLine, 0) != 0) continue;
    const std::wstring text = line.substr(kKindLine.size());
    for (const std::wstring& name : current) {
      const ExportInfo* info = FindExport(name);
      if (!info) {
        lines.push_back(where + name + L" is no export of the catalogue");
        continue;
      }
      ++kindLines[name];
      Kind kind;
      if (!StartsWithKind(text, kind) || kind != info->kind) {
        lines.push_back(where + name + L" is " + KindText(info->kind) + L" in the catalogue");
        continue;
      }
      const size_t open = text.find(L'(');
      const std::vector<int> types =
          open == std::wstring::npos ? std::vector<int>() : LeadingTypes(text.substr(open + 1));
      if (types != Types(*info))
        lines.push_back(where + name + L" lists " + Join(types) + L"; the catalogue: " + Join(Types(*info)));
    }
  }
  for (Kind kind : kKinds)
    if (kindRows[kind] != 1)
      lines.push_back(std::wstring(L"the binding table has ") + std::to_wstring(kindRows[kind]) + L" rows for " +
                      KindText(kind) + L"; one expected");
  for (const ExportInfo& info : Exports())
    if (kindLines[info.name] != 1)
      lines.push_back(std::wstring(info.name) + L": " + std::to_wstring(kindLines[info.name]) +
                      L" Kind lines; one expected");
  return lines.size() - before;
}

}  // namespace kvca::check
