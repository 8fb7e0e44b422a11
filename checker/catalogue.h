// What a package author must know about each export of kvca.dll to bind it:
// how it runs, what composes its data, which Error rows it sends, which
// tables it reads, and what it does with its data as the local system.
#pragma once

#include <string>
#include <vector>

namespace kvca::check {

enum class Kind {
  Immediate,    // reads or sets properties, tables, feature states
  Deferred,     // changes the machine: in the script, without impersonation
  Rollback,     // undoes a deferred action: rollback script, without impersonation
  AsUser,       // works on the installing user's own state: immediate or impersonated
  Script,       // in the script, with or without impersonation
  CommandLine,  // a rundll32 entry point, never a custom action
};

// Where a deferred action's CustomActionData comes from.
enum class Data {
  None,         // reads none
  SetProperty,  // a type-51 action named after it, sequenced before it
  Scheduled,    // set by the library's scheduling action that runs it
};

// What an action does with its data when it runs as the local system; the
// lint's severity follows it.
enum class Effect {
  None,
  RunsProgram,
  InstallsDriverFromFolder,
  RemovesDriverPackage,
  CreatesService,
  DeletesService,
  WritesProviderImagePath,
  WritesProductSetting,  // a value only the product reads
};

struct ExportInfo {
  const wchar_t* name;
  Kind kind;
  Data data;
  Effect effect;
  std::vector<int> errorRows;
  const wchar_t* table;      // the package table it reads, or nullptr
  const wchar_t* binaryRow = nullptr;  // the Binary row it reads
};

const ExportInfo* FindExport(const std::wstring& name);

// A table the library reads, with the columns it asks for by name.
struct ColumnInfo {
  const wchar_t* name;
  char kind;  // 's' text, 'i' integer, 'v' stream
};
struct TableInfo {
  const wchar_t* name;
  std::vector<ColumnInfo> columns;
};
const TableInfo* FindTable(const std::wstring& name);

// The deferred actions that KSProcess and ProcessReaderProviders schedule by
// name, and the export each must be bound to. `required` names must exist in
// a 64-bit package.
struct ScheduledName {
  const wchar_t* scheduler;
  const wchar_t* action;
  const wchar_t* exportName;
  bool required;
};
const std::vector<ScheduledName>& ScheduledNames();

// Rollback exports and the export whose work each undoes.
struct RollbackPair {
  const wchar_t* rollback;
  const wchar_t* undone;
};
const std::vector<RollbackPair>& RollbackPairs();

const wchar_t* EffectText(Effect effect);
bool IsError(Effect effect);

}  // namespace kvca::check
