// The checks over a package and what they report: one finding a line.
#pragma once

#include <string>
#include <vector>

#include "checker/catalogue.h"
#include "checker/package_tables.h"

namespace kvca::check {

// Printed as: SEVERITY: TABLE['ROW'][ (EXPORT)]: TEXT
struct Finding {
  bool error;
  std::wstring table;       // "CustomAction", "Error", "PropertyEx", "KVDriverPackages"
  std::wstring row;         // the row's key; empty for the table as a whole
  std::wstring exportName;  // the export concerned, or empty
  std::wstring text;
};

std::wstring FindingLine(const Finding& finding);

// A kvca action: a custom action that calls an export of the library.
struct BoundAction {
  const CustomActionRow* row;
  const ExportInfo* info;  // nullptr: the target is no export of the library
};

// The custom actions whose DLL is kvca.dll: the Binary rows that some action
// calls a known export from, and any Binary row whose name holds "kvca".
std::vector<BoundAction> KvcaActions(const PackageTables& tables);

// Each wrongly bound action, sequence place, table, Binary or Error row; a
// note for each binding that is a trade-off.
void CheckBindings(const PackageTables& tables, std::vector<Finding>& findings);

// Each input that a user can choose and that reaches an action running as the
// local system; each PropertyEx row that uses a property a later row sets.
void CheckUserInput(const PackageTables& tables, std::vector<Finding>& findings);

// Compares docs/actions.md's Kind lines and binding table with the catalogue;
// returns the number of disagreements, each printed as a line.
size_t CheckReference(const std::wstring& path, std::vector<std::wstring>& lines);

// Custom action type bits.
inline bool InScript(int type) { return (type & 0x400) != 0; }
inline bool IsRollback(int type) { return InScript(type) && (type & 0x100) != 0; }
inline bool IsCommit(int type) { return InScript(type) && (type & 0x200) != 0; }
inline bool NoImpersonate(int type) { return (type & 0x800) != 0; }
inline int BaseType(int type) { return type & 0x3F; }

}  // namespace kvca::check
