// What a package author must know about each export of kvca.dll to bind it:
// how it runs, the binding types that run it that way, what it reads, what it
// does with each input a user must not choose, which Error rows it sends.
// docs/actions.md states the same; `kvca-check --reference` compares the two.
#pragma once

#include <string>
#include <vector>

namespace kvca::check {

enum class Kind {
  Immediate,     // reads or sets properties, tables, feature states
  Deferred,      // changes the machine: in the script, as the local system
  Impersonated,  // works on the installing user's own state: in the script, as that user
  Rollback,      // undoes a deferred action: rollback script, as the local system
  CommandLine,   // a rundll32 entry point, never a custom action
};

// The kind as docs/actions.md writes it.
const wchar_t* KindText(Kind kind);

// A binding type an export accepts; `note` says what it costs where the
// choice is a trade-off (the checker prints it), nullptr where it costs nothing.
struct Binding {
  int type;
  const wchar_t* note = nullptr;
};

// What an action does with an input: `error` when a user who chooses the
// input makes the local system do what `what` says.
struct Use {
  bool error;
  const wchar_t* what;  // "the command line it starts as the local system"
};

enum class Source {
  Property,    // an installer property, by name
  ActionData,  // CustomActionData: the property named after the action
  Scheduled,   // CustomActionData set by the library's action that schedules it
  Table,       // a package table, by name
  BinaryRow,   // a Binary row, by name
};

struct Input {
  Source source;
  const wchar_t* name = nullptr;
  const Use* use = nullptr;  // nullptr: what it does with it concerns no user
};

struct ExportInfo {
  const wchar_t* name;
  Kind kind;
  std::vector<Binding> bindings;  // the first is the one to choose
  const wchar_t* why;             // what the action touches, which makes its kind
  std::vector<Input> reads;
  std::vector<int> errorRows;
  // Properties it sets, each with the properties its value is made of.
  std::vector<std::vector<const wchar_t*>> sets = {};
};

const std::vector<ExportInfo>& Exports();
const ExportInfo* FindExport(const std::wstring& name);
// The binding types of a kind, as the table of docs/actions.md lists them.
std::vector<int> KindTypes(Kind kind);

// Bits of a binding type that change nothing about where and as whom an
// action runs: 64 ignores its result, 8192 keeps its data out of the log.
constexpr int kFreeTypeBits = 64 | 8192;

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

}  // namespace kvca::check
