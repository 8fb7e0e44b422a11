// Follows the CustomActionData of every kvca action that runs as the local
// system back to the properties it is made of, and reports each one a user who
// may start the installation, but not write to the system, can choose.
#include <windows.h>

#include <algorithm>
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

// Properties that KSProcess and ProcessReaderProviders read for the data of
// the actions they schedule.
const wchar_t* const kReaderProviderInputs[] = {L"INSTALLDIR", L"INSTALLDIR64", L"KVMODULENAME", L"KCLEVEL"};

bool IsPublic(const std::wstring& name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

template <size_t N>
bool Listed(const wchar_t* const (&list)[N], const std::wstring& name) {
  return std::any_of(std::begin(list), std::end(list), [&](const wchar_t* item) { return name == item; });
}

class Tracer {
 public:
  Tracer(const PackageTables& tables, const CustomActionRow& action, Effect effect, std::vector<Finding>& findings)
      : tables_(tables), action_(action), effect_(effect), findings_(findings) {
    const auto secure = tables.properties.find(L"SecureCustomProperties");
    if (secure != tables.properties.end()) {
      std::wstring list = secure->second + L";";
      for (size_t at = 0, next; (next = list.find(L';', at)) != std::wstring::npos; at = next + 1)
        secured_.insert(list.substr(at, next - at));
    }
    userControl_ = tables.properties.count(L"EnableUserControl") > 0;
  }

  // Every [reference] of a formatted text.
  void TraceText(const std::wstring& text, const std::wstring& path) {
    for (size_t open = text.find(L'['); open != std::wstring::npos; open = text.find(L'[', open + 1)) {
      const size_t close = text.find(L']', open);
      if (close == std::wstring::npos) break;
      const std::wstring reference = text.substr(open + 1, close - open - 1);
      if (reference.empty()) continue;
      const std::wstring step = path + L" <- [" + reference + L"]";
      switch (reference[0]) {
        case L'%':
          Report(reference, step, L"an environment variable of the installing user");
          break;
        case L'#':
        case L'!':
          TraceComponent(Lookup(tables_.fileComponent, reference.substr(1)), step);
          break;
        case L'$':
          TraceComponent(reference.substr(1), step);
          break;
        default:
          if (reference.find_first_of(L"[]\\~") == std::wstring::npos) TraceProperty(reference, step);
      }
    }
  }

  void TraceProperty(const std::wstring& name, const std::wstring& path) {
    if (!visited_.insert(name).second) return;
    if (Listed(kUserFolders, name)) Report(name, path, L"a folder the installing user can write to");
    if (tables_.userSearchedProperties.count(name))
      Report(name, path, L"AppSearch fills it from the user's own registry hive or files");
    if (IsPublic(name) && (secured_.count(name) || userControl_))
      Report(name, path,
             userControl_ ? L"EnableUserControl lets a user set any public property on the msiexec command line"
                          : L"it is listed in SecureCustomProperties, so a user can set it on the msiexec command "
                            L"line");
    for (const CustomActionRow& setter : tables_.actions)
      if (BaseType(setter.type) == 51 && setter.source == name)
        TraceText(setter.target, path + L" <- " + setter.action);
    if (tables_.directoryParent.count(name) && !Listed(kSystemFolders, name)) {
      const std::wstring parent = tables_.directoryParent.at(name);
      if (!parent.empty()) TraceProperty(parent, path + L" <- " + parent);
    }
  }

  void TraceComponent(const std::wstring& component, const std::wstring& path) {
    const std::wstring directory = Lookup(tables_.componentDirectory, component);
    if (!directory.empty()) TraceProperty(directory, path + L" <- " + directory);
  }

 private:
  static std::wstring Lookup(const std::map<std::wstring, std::wstring>& map, const std::wstring& key) {
    const auto found = map.find(key);
    return found == map.end() ? std::wstring() : found->second;
  }

  void Report(const std::wstring& property, const std::wstring& path, const std::wstring& why) {
    findings_.push_back({IsError(effect_), L"CustomAction '" + action_.action + L"'",
                         L"user input '" + property + L"' reaches its data (" + path + L"): " + why + L"; " +
                             action_.target + L" " + EffectText(effect_)});
  }

  const PackageTables& tables_;
  const CustomActionRow& action_;
  Effect effect_;
  std::vector<Finding>& findings_;
  std::set<std::wstring> secured_;
  std::set<std::wstring> visited_;
  bool userControl_ = false;
};

}  // namespace

void CheckUserInput(const PackageTables& tables, std::vector<Finding>& findings) {
  for (const BoundAction& bound : KvcaActions(tables)) {
    const int type = bound.row->type;
    if (!bound.info || bound.info->effect == Effect::None || !InScript(type) || !NoImpersonate(type)) continue;
    Tracer tracer(tables, *bound.row, bound.info->effect, findings);
    const std::wstring start = bound.row->action;
    if (bound.info->data == Data::SetProperty) {
      tracer.TraceProperty(bound.row->action, start);
    } else if (bound.info->name == std::wstring(L"RegReaderProv")) {
      for (const wchar_t* input : kReaderProviderInputs)
        tracer.TraceProperty(input, start + L" <- ProcessReaderProviders <- " + input);
    } else if (bound.info->data == Data::Scheduled) {
      for (const std::wstring& component : tables.driverComponents)
        tracer.TraceComponent(component, start + L" <- KSProcess <- KVDriverPackages '" + component + L"'");
    }
  }
}

}  // namespace kvca::check
