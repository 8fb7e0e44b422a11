// Checks that every kvca action is bound, sequenced and supplied the way the
// library expects.
#include <windows.h>

#include <algorithm>
#include <set>

#include "checker/findings.h"
#include "frame/wide.h"

namespace kvca::check {
namespace {

const wchar_t kExecute[] = L"InstallExecuteSequence";

std::wstring RowName(const CustomActionRow& row) { return L"CustomAction '" + row.action + L"'"; }

bool HoldsKvca(const std::wstring& name) {
  std::wstring lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
  return lower.find(L"kvca") != std::wstring::npos;
}

// What the binding should have been, for the finding's text.
const wchar_t* ExpectedType(Kind kind) {
  switch (kind) {
    case Kind::Immediate: return L"it runs immediate: type 1";
    case Kind::Deferred: return L"it runs deferred without impersonation: type 3073";
    case Kind::Rollback: return L"it runs in the rollback script without impersonation: type 3329";
    case Kind::AsUser: return L"it works on the installing user's state: type 1 or 1025";
    case Kind::Script: return L"it runs in the script: type 1025 or 3073";
    case Kind::CommandLine: return L"it is a rundll32 entry point, not a custom action";
  }
  return L"";
}

bool KindMatches(Kind kind, int type) {
  switch (kind) {
    case Kind::Immediate: return !InScript(type);
    case Kind::Deferred: return InScript(type) && !IsRollback(type) && NoImpersonate(type);
    case Kind::Rollback: return IsRollback(type) && !IsCommit(type) && NoImpersonate(type);
    case Kind::AsUser: return !InScript(type) || !NoImpersonate(type);
    case Kind::Script: return InScript(type) && !IsRollback(type);
    case Kind::CommandLine: return false;
  }
  return false;
}

bool RunsInScript(Kind kind) { return kind == Kind::Deferred || kind == Kind::Rollback || kind == Kind::Script; }

void CheckKind(const BoundAction& bound, std::vector<Finding>& findings) {
  if (KindMatches(bound.info->kind, bound.row->type)) return;
  findings.push_back({true, RowName(*bound.row),
                      Format(L"%s bound with type %d; %s", bound.info->name, bound.row->type,
                             ExpectedType(bound.info->kind))});
}

// Deferred work belongs between InstallInitialize and InstallFinalize; so do
// the actions that schedule it with MsiDoAction.
void CheckScriptPlace(const PackageTables& tables, const BoundAction& bound, std::vector<Finding>& findings) {
  const std::wstring name = bound.info->name;
  const bool schedules = name == L"KSProcess" || name == L"ProcessReaderProviders";
  for (const SequenceRow& place : tables.sequences) {
    if (place.action != bound.row->action) continue;
    if (bound.info->data == Data::Scheduled) {
      findings.push_back({true, RowName(*bound.row),
                          L"sequenced in " + place.table + L"; its CustomActionData comes from the action "
                          L"that schedules it, so it must not be sequenced itself"});
      continue;
    }
    if (!RunsInScript(bound.info->kind) && !schedules && name != L"KSCleanup") continue;
    const SequenceRow* initialize = tables.FindSequence(kExecute, L"InstallInitialize");
    const SequenceRow* finalize = tables.FindSequence(kExecute, L"InstallFinalize");
    if (place.table != kExecute || !initialize || !finalize) {
      findings.push_back({true, RowName(*bound.row),
                          L"sequenced in " + place.table + L", outside the installation script"});
    } else if (name == L"KSCleanup") {
      if (place.sequence < finalize->sequence)
        findings.push_back({true, RowName(*bound.row),
                            Format(L"sequence %d is before InstallFinalize (%d): the driver removals that "
                                   L"leave the reboot marker have not run yet",
                                   place.sequence, finalize->sequence)});
    } else if (place.sequence <= initialize->sequence || place.sequence >= finalize->sequence) {
      findings.push_back({true, RowName(*bound.row),
                          Format(L"sequence %d is outside the script (InstallInitialize %d, InstallFinalize %d)",
                                 place.sequence, initialize->sequence, finalize->sequence)});
    }
  }
}

// A deferred action sees only the CustomActionData that a type-51 action named
// after it set before it.
void CheckDataSource(const PackageTables& tables, const BoundAction& bound, std::vector<Finding>& findings) {
  if (bound.info->data != Data::SetProperty) return;
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
    findings.push_back({true, RowName(*bound.row),
                        after ? L"its set-property action '" + after->action + L"' is sequenced after it"
                              : L"no set-property action (type 51) sets the property '" + bound.row->action +
                                    L"' before it in " + place.table + L": its CustomActionData is empty"});
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
            findings.push_back({true, RowName(*rollback.row),
                                Format(L"sequence %d is after '%s' (%d), whose work it undoes: a failure in "
                                       L"between would not be rolled back",
                                       place.sequence, undone.row->action.c_str(), undonePlace->sequence)});
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
        findings.push_back({true, L"CustomAction '" + std::wstring(name.action) + L"'",
                            L"missing: " + std::wstring(name.scheduler) + L" schedules it by this name (bind it to " +
                                name.exportName + L")"});
      continue;
    }
    if (row->target != name.exportName)
      findings.push_back({true, RowName(*row),
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

void CheckTable(const PackageTables& tables, const ExportInfo& info, std::vector<Finding>& findings) {
  if (!info.table) return;
  const TableInfo* expected = FindTable(info.table);
  const auto found = tables.tableColumns.find(info.table);
  const std::wstring row = L"table " + std::wstring(info.table);
  if (found == tables.tableColumns.end() || found->second.empty()) {
    findings.push_back({true, row, L"missing; " + std::wstring(info.name) + L" reads it"});
    return;
  }
  for (const ColumnInfo& column : expected->columns) {
    const auto have = std::find_if(found->second.begin(), found->second.end(),
                                   [&](const Column& c) { return c.name == column.name; });
    if (have == found->second.end())
      findings.push_back({true, row, L"has no column '" + std::wstring(column.name) + L"'"});
    else if (ColumnKind(have->type) != column.kind)
      findings.push_back({true, row,
                          Format(L"column '%s' is of type %s; %s reads it as %s", column.name, have->type.c_str(),
                                 info.name, column.kind == 'i' ? L"an integer" : L"text")});
  }
}

}  // namespace

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
  std::set<int> sentErrors;
  for (const BoundAction& action : bound) {
    if (!action.info) {
      findings.push_back({true, RowName(*action.row),
                          L"calls '" + action.row->target + L"' from " + action.row->source +
                              L", which exports no such action"});
      continue;
    }
    CheckKind(action, findings);
    CheckScriptPlace(tables, action, findings);
    CheckDataSource(tables, action, findings);
    CheckTable(tables, *action.info, findings);
    if (action.info->binaryRow && !tables.binaries.count(action.info->binaryRow))
      findings.push_back({true, L"Binary", L"no row '" + std::wstring(action.info->binaryRow) + L"'; " +
                                               action.info->name + L" reads it"});
    sentErrors.insert(action.info->errorRows.begin(), action.info->errorRows.end());
  }
  CheckRollbackOrder(tables, bound, findings);
  CheckScheduledNames(tables, bound, findings);
  for (int error : sentErrors)
    if (!tables.errors.count(error))
      findings.push_back({true, L"Error", Format(L"no row %d; the bound actions send it", error)});
}

}  // namespace kvca::check
