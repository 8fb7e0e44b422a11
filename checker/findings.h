// The checks over a package and what they report: one finding a line.
#pragma once

#include <string>
#include <vector>

#include "checker/catalogue.h"
#include "checker/package_tables.h"

namespace kvca::check {

struct Finding {
  bool error;
  std::wstring row;  // "CustomAction 'KSInstall64'", "Error", "table PropertyEx"
  std::wstring text;
};

// A kvca action: a custom action that calls an export of the library.
struct BoundAction {
  const CustomActionRow* row;
  const ExportInfo* info;  // nullptr: the target is no export of the library
};

// The custom actions whose DLL is kvca.dll: the Binary rows that some action
// calls a known export from, and any Binary row whose name holds "kvca".
std::vector<BoundAction> KvcaActions(const PackageTables& tables);

// Each wrongly bound action, sequence place, table, Binary or Error row.
void CheckBindings(const PackageTables& tables, std::vector<Finding>& findings);

// Each user-settable property that reaches the data of an action that runs as
// the local system.
void CheckUserInput(const PackageTables& tables, std::vector<Finding>& findings);

// Custom action type bits.
inline bool InScript(int type) { return (type & 0x400) != 0; }
inline bool IsRollback(int type) { return InScript(type) && (type & 0x100) != 0; }
inline bool IsCommit(int type) { return InScript(type) && (type & 0x200) != 0; }
inline bool NoImpersonate(int type) { return (type & 0x800) != 0; }
inline int BaseType(int type) { return type & 0x3F; }

}  // namespace kvca::check
