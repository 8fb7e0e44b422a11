// The rows of an installation package that the checks read, taken once.
#pragma once

#include <windows.h>
#include <msi.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kvca::check {

struct CustomActionRow {
  std::wstring action;
  int type = 0;
  std::wstring source;
  std::wstring target;
};

struct SequenceRow {
  std::wstring table;
  std::wstring action;
  std::wstring condition;
  int sequence = 0;
};

struct PropertyExRow {
  std::wstring property, value, condition;
};

struct RegReadersRow {
  std::wstring key;  // Type\Name\Parameter
  std::wstring value, listProperty;
};

struct DirectoryRow {
  std::wstring parent, defaultDir;
};

struct Column {
  std::wstring name;
  std::wstring type;  // as MsiViewGetColumnInfo gives it: "s72", "I2", "v0"
};

struct PackageTables {
  std::vector<CustomActionRow> actions;
  std::vector<SequenceRow> sequences;
  std::map<std::wstring, std::wstring> properties;
  std::set<int> errors;
  std::set<std::wstring> binaries;
  std::map<std::wstring, DirectoryRow> directories;
  std::map<std::wstring, std::wstring> componentDirectory;  // Component -> Directory_
  std::map<std::wstring, std::wstring> fileComponent;       // File -> Component_
  std::vector<std::wstring> driverComponents;               // KVDriverPackages.Component
  std::vector<PropertyExRow> propertyEx;                    // in the order the installer fetches them
  std::vector<RegReadersRow> regReaders;
  // AppSearch rows that read the user's own hive or files: Property -> Signature_
  std::map<std::wstring, std::wstring> userSearchedProperties;

  const CustomActionRow* FindAction(const std::wstring& name) const;
  const SequenceRow* FindSequence(const std::wstring& table, const std::wstring& action) const;
  // The columns of a table, empty when it does not exist.
  std::map<std::wstring, std::vector<Column>> tableColumns;
};

// Reads the package; 0 or the installer's code for a package it cannot open.
UINT ReadPackageTables(const std::wstring& path, PackageTables& tables);

}  // namespace kvca::check
