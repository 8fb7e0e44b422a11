// The RegReaders table: each row describes one registry value of a key carrier
// or of a smart-card type. ProcessRegReaders turns the rows whose condition
// holds and whose component is being installed locally into temporary rows of
// the installer's Registry table; WriteRegistryValues then writes them with
// their component.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/action.h"

KVCA_ACTION ProcessRegReaders(MSIHANDLE install);

namespace kvca {

// One RegReaders row, in column order.
struct RegReaderRow {
  std::wstring type;          // "WLSC" for a smart-card type, else a carrier family
  std::wstring name;
  std::wstring parameter;     // value name; "-" is the key's default value
  std::wstring value;
  std::wstring component;
  std::wstring condition;
  std::wstring listProperty;  // property holding a comma-separated list of subkeys
};

// Composes the keys and identifiers of one row and inserts its Registry rows.
// Returns 0, or the failure code (already reported with an error record).
UINT PrepareToWrite(MSIHANDLE install, RegReaderRow row);

// Inserts one temporary HKEY_LOCAL_MACHINE row into Registry, shaped like the
// table's first row; writes nothing when the table has no row. Returns 0 or
// the OR of the failing installer calls' results.
UINT WriteToRegistryTable(MSIHANDLE install, const std::wstring& identifier,
                          const std::wstring& key, const std::wstring& name,
                          const std::wstring& data, const std::wstring& component);

}  // namespace kvca
