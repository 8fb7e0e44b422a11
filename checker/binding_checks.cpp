// Checks that every kvca action is bound, sequenced and supplied the way the
// library expects.
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

#include "checker/findings.h"
#include "frame/wide.h"

namespace kvca::check {
namespace {

const wchar_t kExecute[] = L"InstallExecuteSequence";

bool HoldsKvca(const std::wstring& name) {
  std::wstring lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
  return lower.find(L"kvca") != std::wstring::npos;
}

Finding OnAction(bool error, const BoundAction& bound, const std::wstring& text) {
  return {error, L"CustomAction", bound.row->action, bound.info ? bound.info->name : L"", text};
}

bool Reads(const ExportInfo& info, Source source) {
  return std::any_of(info.reads.begin(), info.reads.end(), [&](const Input& input) { return input.source == source; });
}

// How a binding type runs an action, in the words of docs/actions.md.
const wchar_t* Context(int type) {
  if (!InScript(type)) return L"immediate";
  if (IsRollback(type)) return L"rollback";
  if (IsCommit(type)) return L"commit";
  return NoImpersonate(type) ? L"deferred without impersonation" : L"deferred with impersonation";
}

const wchar_t* KindWhy(Kind kind) {
  switch (kind) {
    case Kind::Immediate: return L"it reads or sets what exists only while the installer plans";
    case Kind::Deferred: return L"it changes the machine, as the local system";
    case Kind::Impersonated: return L"it works on the installing user's own state";
    case Kind::Rollback: return L"it undoes its partner's work when the script fails";
    case Kind::CommandLine: return L"its entry point takes a command line from rundll32, not an installer session";
  }
  return L"";
}

std::wstring TypeList(const ExportInfo& info) {
  std::wstring list;
  for (const Binding& binding : info.bindings)
    list += (list.empty() ? L"" : L" or ") + std::to_wstring(binding.type);
  return list;
}

void CheckKind(const BoundAction& bound, std::vector<Finding>& findings) {
  const ExportInfo& info = *bound.info;
  const int type = bound.row->type & ~kFreeTypeBits;
  for (const Binding& binding : info.bindings) {
    if (binding.type != type) continue;
    if (binding.note) findings.push_back(OnAction(false, bound, Format(L"bound with type %d: %s", type, binding.note)));
    return;
  }
  std::wstring text = Format(L"bound with type %d (%s); it is %s", bound.row->type, Context(bound.row->type),
                             KindText(info.kind));
  if (!info.bindings.empty()) text += L" (" + TypeList(info) + L")";
  findings.push_back(OnAction(true, bound, text + L": " + (info.why ? info.why : KindWhy(info.kind))));
}

bool RunsInScript(Kind kind) { return kind == Kind::Deferred || kind == Kind::Rollback || kind == Kind::Impersonated; }

bool Schedules(const ExportInfo& info) {
  const std::vector<ScheduledName>& names = ScheduledNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const ScheduledName& name) { return name.scheduler == std::wstring(info.name); });
}

// Deferred work belongs between InstallInitialize and InstallFinalize; so do
// the actions that schedule it with MsiDoAction.
void CheckScriptPlace(const PackageTables& tables, const BoundAction& bound, std::vector<Finding>& findings) {
  const std::wstring name = bound.info->name;
  const bool schedules = Schedules(*bound.info);
  for (const SequenceRow& place : tables.sequences) {
    if (place.action != bound.row->action) continue;
    if (Reads(*bound.info, Source::Scheduled)) {
      findings.push_back(OnAction(true, bound,
                                  L"sequenced in " + place.table + L"; its CustomActionData comes from the action "
                                  L"that schedules it, so it must not be sequenced itself"));
      continue;
    }
    if (!RunsInScript(bound.info->kind) && !schedules && name != L"KSCleanup") continue;
    const SequenceRow* initialize = tables.FindSequence(kExecute, L"InstallInitialize");
    const SequenceRow* finalize = tables.FindSequence(kExecute, L"InstallFinalize");
    if (place.table != kExecute || !initialize || !finalize) {
      findings.push_back(OnAction(true, bound, L"sequenced in " + place.table + L", outside the installation script"));
    } else if (name == L"KSCleanup") {
      if (place.sequence < finalize->sequence)
        findings.push_back(OnAction(true, bound,
                                    Format(L"sequence %d is before InstallFinalize (%d): the driver removals that "
                                           L"leave the reboot marker have not run yet",
                                           place.sequence, finalize->sequence)));
    } else if (place.sequence <= initialize->sequence || place.sequence >= finalize->sequence) {
      findings.push_back(OnAction(true, bound,
                                  Format(L"sequence %d is outside the script (InstallInitialize %d, InstallFinalize %d)",
                                         place.sequence, initialize->sequence, finalize->sequence)));
    }
  }
}

// A deferred action sees only the CustomActionData that a type-51 action named
// after it set before it.
void CheckDataSource(const PackageTables& tables, const BoundAction& bound, std::vector<Finding>& findings) {
  if (!Reads(*bound.info, Source::ActionData)) return;
  for (const SequenceRow& place : tables.sequences) {
    if (place.action != bound.row->action) continue;
    const SequenceRow* before = nullptr;
    const SequenceRow* after = nullptr;
    for (const CustomActionRow& setter : tables.actions) {
      if (BaseType(setter.type) != 51 || setter.source != bound.row->action) continue;
      const SequenceRow* setPlace = tables.FindSequence(place.table, setter.action);
      if (!setPlace) continue;
      (setPlace->sequence < place.sequence ? before : after) = setPlace;
    }
    if (before) continue;
    findings.push_back(OnAction(true, bound,
                                after ? L"its set-property action '" + after->action + L"' is sequenced after it"
                                      : L"no set-property action (type 51) sets the property '" + bound.row->action +
                                            L"' before it in " + place.table + L": its CustomActionData is empty"));
  }
}

void CheckRollbackOrder(const PackageTables& tables, const std::vector<BoundAction>& bound,
                        std::vector<Finding>& findings) {
  for (const RollbackPair& pair : RollbackPairs())
    for (const BoundAction& rollback : bound)
      for (const BoundAction& undone : bound) {
        if (!rollback.info || !undone.info || pair.rollback != std::wstring(rollback.info->name) ||
            pair.undone != std::wstring(undone.info->name))
          continue;
        for (const SequenceRow& place : tables.sequences) {
          if (place.action != rollback.row->action) continue;
          const SequenceRow* undonePlace = tables.FindSequence(place.table, undone.row->action);
          if (undonePlace && undonePlace->sequence < place.sequence)
            findings.push_back(OnAction(true, rollback,
                                        Format(L"sequence %d is after '%s' (%d), whose work it undoes: a failure in "
                                               L"between would not be rolled back",
                                               place.sequence, undone.row->action.c_str(), undonePlace->sequence)));
        }
      }
}

void CheckScheduledNames(const PackageTables& tables, const std::vector<BoundAction>& bound,
                         std::vector<Finding>& findings) {
  std::set<std::wstring> schedulers;
  for (const BoundAction& action : bound)
    if (action.info) schedulers.insert(action.info->name);
  for (const ScheduledName& name : ScheduledNames()) {
    if (!schedulers.count(name.scheduler)) continue;
    const CustomActionRow* row = tables.FindAction(name.action);
    if (!row) {
      if (name.required)
        findings.push_back({true, L"CustomAction", name.action, name.exportName,
                            L"missing: " + std::wstring(name.scheduler) + L" schedules it by this name"});
      continue;
    }
    if (row->target != name.exportName)
      findings.push_back({true, L"CustomAction", row->action, name.exportName,
                          std::wstring(name.scheduler) + L" schedules it to run " + name.exportName +
                              L", but it calls '" + row->target + L"'"});
  }
}

char ColumnKind(const std::wstring& type) {
  const wchar_t letter = type.empty() ? L'?' : static_cast<wchar_t>(::towlower(type[0]));
  if (letter == L's' || letter == L'l') return 's';
  if (letter == L'i' || letter == L'j') return 'i';
  return static_cast<char>(letter);
}

void CheckTable(const PackageTables& tables, const ExportInfo& info, const TableInfo& expected,
                std::vector<Finding>& findings) {
  const auto found = tables.tableColumns.find(expected.name);
  if (found == tables.tableColumns.end() || found->second.empty()) {
    findings.push_back({true, expected.name, L"", info.name, L"the table is missing"});
    return;
  }
  for (const ColumnInfo& column : expected.columns) {
    const auto have = std::find_if(found->second.begin(), found->second.end(),
                                   [&](const Column& c) { return c.name == column.name; });
    if (have == found->second.end())
      findings.push_back({true, expected.name, L"", info.name, L"has no column '" + std::wstring(column.name) + L"'"});
    else if (ColumnKind(have->type) != column.kind)
      findings.push_back({true, expected.name, L"", info.name,
                          Format(L"column '%s' is of type %s; it is read as %s", column.name, have->type.c_str(),
                                 column.kind == 'i' ? L"an integer" : L"text")});
  }
}

// ProcessReaderProviders registers each provider with INSTALLDIR, then on
// 64-bit Windows with INSTALLDIR64, whose image path stays in the key.
void CheckReaderFolders(const PackageTables& tables, const BoundAction& bound, std::vector<Finding>& findings) {
  for (const wchar_t* folder : {L"INSTALLDIR", L"INSTALLDIR64"}) {
    bool set = tables.directories.count(folder) || tables.properties.count(folder);
    for (const CustomActionRow& setter : tables.actions)
      set = set || ((BaseType(setter.type) == 51 || BaseType(setter.type) == 35) && setter.source == folder);
    const bool last = folder == std::wstring(L"INSTALLDIR64");
    if (!set)
      findings.push_back(OnAction(last, bound,
                                  std::wstring(folder) + L" is no folder or property of the package: the " +
                                      (last ? L"image path that stays in the provider keys" : L"first registration's image path") +
                                      L" is \"kvcsp.dll\", without a folder"));
  }
}

}  // namespace

std::wstring FindingLine(const Finding& finding) {
  std::wstring line = std::wstring(finding.error ? L"error: " : L"note: ") + finding.table;
  if (!finding.row.empty()) line += L" '" + finding.row + L"'";
  if (!finding.exportName.empty()) line += L" (" + finding.exportName + L")";
  return line + L": " + finding.text;
}

std::vector<BoundAction> KvcaActions(const PackageTables& tables) {
  std::set<std::wstring> kvcaBinaries;
  for (const std::wstring& binary : tables.binaries)
    if (HoldsKvca(binary)) kvcaBinaries.insert(binary);
  for (const CustomActionRow& row : tables.actions)
    if (BaseType(row.type) == 1 && FindExport(row.target)) kvcaBinaries.insert(row.source);
  std::vector<BoundAction> bound;
  for (const CustomActionRow& row : tables.actions)
    if (BaseType(row.type) == 1 && kvcaBinaries.count(row.source)) bound.push_back({&row, FindExport(row.target)});
  return bound;
}

void CheckBindings(const PackageTables& tables, std::vector<Finding>& findings) {
  const std::vector<BoundAction> bound = KvcaActions(tables);
  std::map<int, std::wstring> sentErrors;
  for (const BoundAction& action : bound) {
    if (!action.info) {
      findings.push_back(OnAction(true, action,
                                  L"calls '" + action.row->target + L"' from " + action.row->source +
                                      L", which exports no such action"));
      continue;
    }
    CheckKind(action, findings);
    CheckScriptPlace(tables, action, findings);
    CheckDataSource(tables, action, findings);
    if (action.info->name == std::wstring(L"ProcessReaderProviders")) CheckReaderFolders(tables, action, findings);
    for (const Input& input : action.info->reads) {
      const TableInfo* table = input.source == Source::Table ? FindTable(input.name) : nullptr;
      if (table) CheckTable(tables, *action.info, *table, findings);
      if (input.source == Source::BinaryRow && !tables.binaries.count(input.name))
        findings.push_back({true, L"Binary", input.name, action.info->name, L"missing; the action reads it"});
    }
    for (int error : action.info->errorRows) sentErrors.emplace(error, action.info->name);
  }
  CheckRollbackOrder(tables, bound, findings);
  CheckScheduledNames(tables, bound, findings);
  for (const auto& [error, sender] : sentErrors)
    if (!tables.errors.count(error))
      findings.push_back({true, L"Error", std::to_wstring(error), sender, L"missing; the action sends it"});
}

}  // namespace kvca::check
