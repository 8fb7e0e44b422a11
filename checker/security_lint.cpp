// Follows every input of a kvca action that runs as the local system back
// through every way the package computes it, and reports each one a user who
// may start the installation, but not write to the system, can choose.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "checker/findings.h"
#include "frame/wide.h"

namespace kvca::check {
namespace {

// Folders the installer fills itself: a user cannot redirect them.
const wchar_t* const kSystemFolders[] = {
    L"TARGETDIR", L"ProgramFilesFolder", L"ProgramFiles64Folder", L"CommonFilesFolder",
    L"CommonFiles64Folder", L"SystemFolder", L"System64Folder", L"System16Folder", L"WindowsFolder",
    L"WindowsVolume", L"CommonAppDataFolder", L"FontsFolder",
};

// Folders of the installing user, which that user can write to.
const wchar_t* const kUserFolders[] = {
    L"TempFolder", L"AppDataFolder", L"LocalAppDataFolder", L"PersonalFolder", L"DesktopFolder",
    L"MyPicturesFolder", L"FavoritesFolder", L"SendToFolder", L"StartupFolder", L"TemplateFolder",
    L"RecentFolder", L"NetHoodFolder", L"PrintHoodFolder",
};

bool IsPublic(const std::wstring& name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

template <size_t N>
bool Listed(const wchar_t* const (&list)[N], const std::wstring& name) {
  return std::any_of(std::begin(list), std::end(list), [&](const wchar_t* item) { return name == item; });
}

std::wstring Quoted(const std::wstring& table, const std::wstring& row) { return table + L" '" + row + L"'"; }

// The references of a formatted text, innermost first, as the installer
// resolves them: [NAME], [%NAME], [#file], [!file], [$component]. An escape
// ([\x]) and a reference whose name is itself made of references ([[NAME]])
// yield no name of their own.
std::vector<std::wstring> References(std::wstring text) {
  std::vector<std::wstring> references;
  for (size_t close; (close = text.find(L']')) != std::wstring::npos;) {
    const size_t open = text.rfind(L'[', close);
    if (open == std::wstring::npos) {
      text.erase(0, close + 1);
      continue;
    }
    const std::wstring inside = text.substr(open + 1, close - open - 1);
    const bool made = inside.find(L'\x1') != std::wstring::npos;
    if (!made && !inside.empty() && inside[0] != L'\\' && inside[0] != L'~' && !iswdigit(inside[0]))
      references.push_back(inside);
    text.replace(open, close - open + 1, L"\x1");  // a value nobody can name
  }
  return references;
}

// The property names a condition tests.
std::vector<std::wstring> ConditionNames(const std::wstring& condition) {
  static const wchar_t* const kOperators[] = {L"AND", L"OR", L"NOT", L"XOR", L"EQV", L"IMP"};
  std::vector<std::wstring> names;
  bool quoted = false;
  for (size_t at = 0; at < condition.size();) {
    const wchar_t c = condition[at];
    if (c == L'"') quoted = !quoted;
    if (quoted || !(iswalpha(c) || c == L'_')) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < condition.size() && (iswalnum(condition[end]) || condition[end] == L'_' || condition[end] == L'.'))
      ++end;
    std::wstring word = condition.substr(at, end - at), upper = word;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    if (std::none_of(std::begin(kOperators), std::end(kOperators), [&](const wchar_t* op) { return upper == op; }))
      names.push_back(word);
    at = end;
  }
  return names;
}

class Tracer {
 public:
  Tracer(const PackageTables& tables, const std::vector<BoundAction>& bound, std::vector<Finding>& findings)
      : tables_(tables), bound_(bound), findings_(findings) {
    const auto secure = tables.properties.find(L"SecureCustomProperties");
    if (secure != tables.properties.end()) {
      std::wstring list = secure->second + L";";
      for (size_t at = 0, next; (next = list.find(L';', at)) != std::wstring::npos; at = next + 1)
        secured_.insert(list.substr(at, next - at));
    }
    userControl_ = tables.properties.count(L"EnableUserControl") > 0;
    for (const BoundAction& action : bound)
      if (action.info && action.info->name == std::wstring(L"ProcessPropertyEx")) propertyEx_ = true;
  }

  // One input of one action: reports every user-chosen origin once.
  void Start(const BoundAction& action, const Use& use) {
    action_ = &action;
    use_ = &use;
    visited_.clear();
  }

  void Text(const std::wstring& text, const std::vector<std::wstring>& path) {
    for (const std::wstring& reference : References(text)) {
      if (reference[0] == L'%') {
        Report(reference + L" (the environment)", path);
      } else if (reference[0] == L'#' || reference[0] == L'!') {
        const auto file = tables_.fileComponent.find(reference.substr(1));
        if (file != tables_.fileComponent.end()) Component(file->second, Then(path, L"[" + reference + L"]"));
      } else if (reference[0] == L'$') {
        Component(reference.substr(1), Then(path, L"[" + reference + L"]"));
      } else {
        Property(reference, path);
      }
    }
  }

  void Property(const std::wstring& name, const std::vector<std::wstring>& path) {
    if (!visited_.insert(name).second) return;
    if (Listed(kUserFolders, name)) Report(name + L" (a folder of the installing user)", path);
    const auto search = tables_.userSearchedProperties.find(name);
    if (search != tables_.userSearchedProperties.end())
      Report(name + L" (AppSearch '" + search->second + L"' reads the user's hive or files)", path);
    if (IsPublic(name) && secured_.count(name)) Report(name + L" (SecureCustomProperties)", path);
    else if (IsPublic(name) && userControl_) Report(name + L" (EnableUserControl)", path);

    // What sets a folder's property sets the folder: the path shows both.
    const auto directory = tables_.directories.find(name);
    const bool folder = directory != tables_.directories.end();
    const std::vector<std::wstring> through = folder ? Then(path, Quoted(L"Directory", name)) : path;
    for (const CustomActionRow& setter : tables_.actions)
      if ((BaseType(setter.type) == 51 || BaseType(setter.type) == 35) && setter.source == name)
        Text(setter.target, Then(through, Quoted(L"CustomAction", setter.action)));
    if (propertyEx_)
      for (const PropertyExRow& row : tables_.propertyEx)
        if (row.property == name) Text(row.value, Then(through, Quoted(L"PropertyEx", row.property)));
    for (const BoundAction& action : bound_)
      if (action.info)
        for (const auto& set : action.info->sets)
          if (set.front() == name)
            for (size_t from = 1; from < set.size(); ++from)
              Property(set[from], Then(through, Quoted(L"CustomAction", action.row->action)));

    if (!folder || Listed(kSystemFolders, name)) return;
    Text(directory->second.defaultDir, through);
    const std::wstring& parent = directory->second.parent;
    if (!parent.empty() && parent != name) Property(parent, through);
  }

  void Component(const std::wstring& component, const std::vector<std::wstring>& path) {
    const auto directory = tables_.componentDirectory.find(component);
    if (directory != tables_.componentDirectory.end())
      Property(directory->second, Then(path, Quoted(L"Component", component)));
  }

 private:
  static std::vector<std::wstring> Then(std::vector<std::wstring> path, const std::wstring& step) {
    path.push_back(step);
    return path;
  }

  // `path` runs from the action's input back to the origin.
  void Report(const std::wstring& origin, const std::vector<std::wstring>& path) {
    std::wstring line = origin;
    const bool itself = path.size() == 1 && origin.rfind(path[0] + L" (", 0) == 0;  // the input is the origin
    for (auto step = path.rbegin(); step != path.rend() && !itself; ++step) line += L" -> " + *step;
    findings_.push_back({use_->error, L"CustomAction", action_->row->action, action_->info->name,
                         L"user input reaches " + std::wstring(use_->what) + L": " + line});
  }

  const PackageTables& tables_;
  const std::vector<BoundAction>& bound_;
  std::vector<Finding>& findings_;
  std::set<std::wstring> secured_;
  bool userControl_ = false;
  bool propertyEx_ = false;
  const BoundAction* action_ = nullptr;
  const Use* use_ = nullptr;
  std::set<std::wstring> visited_;
};

// A row sees what the rows before it set, not what later rows set.
void CheckPropertyExOrder(const PackageTables& tables, std::vector<Finding>& findings) {
  for (size_t row = 0; row < tables.propertyEx.size(); ++row) {
    std::vector<std::wstring> used = References(tables.propertyEx[row].value);
    for (const std::wstring& name : ConditionNames(tables.propertyEx[row].condition)) used.push_back(name);
    std::set<std::wstring> noted;
    for (const std::wstring& name : used)
      for (size_t later = row + 1; later < tables.propertyEx.size(); ++later)
        if (tables.propertyEx[later].property == name && noted.insert(name).second)
          findings.push_back({false, L"PropertyEx", tables.propertyEx[row].property, L"ProcessPropertyEx",
                              L"uses " + name + L", which a later row sets: it sees the value " + name +
                                  L" had before ProcessPropertyEx"});
  }
}

}  // namespace

void CheckUserInput(const PackageTables& tables, std::vector<Finding>& findings) {
  const std::vector<BoundAction> bound = KvcaActions(tables);
  Tracer tracer(tables, bound, findings);
  for (const BoundAction& action : bound) {
    if (!action.info) continue;
    const bool asSystem = InScript(action.row->type) && NoImpersonate(action.row->type);
    for (const Input& input : action.info->reads) {
      if (!input.use) continue;
      const Use& use = *input.use;
      if (input.source == Source::ActionData && asSystem) {
        tracer.Start(action, use);
        tracer.Property(action.row->action, {L"CustomActionData"});
      } else if (input.source == Source::Property) {
        tracer.Start(action, use);
        tracer.Property(input.name, {input.name});
      } else if (input.source == Source::Table && input.name == std::wstring(L"KVDriverPackages")) {
        for (const std::wstring& component : tables.driverComponents) {
          tracer.Start(action, use);
          tracer.Component(component, {Quoted(L"KVDriverPackages", component)});
        }
      } else if (input.source == Source::Table && input.name == std::wstring(L"RegReaders")) {
        for (const RegReadersRow& row : tables.regReaders) {
          tracer.Start(action, use);
          tracer.Text(row.value, {Quoted(L"RegReaders", row.key)});
          if (!row.listProperty.empty()) tracer.Property(row.listProperty, {Quoted(L"RegReaders", row.key)});
        }
      }
    }
  }
  if (std::any_of(bound.begin(), bound.end(), [](const BoundAction& action) {
        return action.info && action.info->name == std::wstring(L"ProcessPropertyEx");
      }))
    CheckPropertyExOrder(tables, findings);
}

}  // namespace kvca::check
