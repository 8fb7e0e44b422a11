// kvca-run's command line.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <utility>
#include <vector>

namespace kvca::run {

struct Arguments {
  std::wstring package;  // --package: an existing package, opened from a copy
  std::wstring tables;   // --tables: a folder of .idt files for a scratch package
  std::vector<std::pair<std::wstring, std::wstring>> properties;  // --set
  bool hasData = false;
  std::wstring data;  // --data: CustomActionData
  struct Repeat {
    std::wstring name;
    std::wstring text;
    unsigned long count;
  };
  std::vector<Repeat> repeats;  // --repeat NAME=TEXT*COUNT: appended to the property
  bool cost = false;
  std::vector<std::pair<std::wstring, INSTALLSTATE>> features;
  std::vector<std::pair<std::wstring, INSTALLSTATE>> components;
  std::vector<std::wstring> watched;
  std::vector<std::wstring> shownTables;
  std::wstring dll;
  std::wstring exportName;
  bool hasCommandLine = false;
  std::wstring commandLine;  // --command-line: the export is a rundll32 entry point
  // Fault injection (import_hooks.h)
  unsigned failCall = 0;                  // --fail-call N | NAME[:K][@AFTER]
  std::string failFunction;
  std::string failAfter;
  std::vector<std::wstring> failedLoads;  // --fail-load DLL
  bool countCalls = false;                // --count-calls
  bool watchHandles = false;              // --watch-handles
  bool traceCalls = false;                // --trace-calls
  bool time = false;                      // --time: the export's own elapsed time

  bool RunsCost() const { return cost || !features.empty() || !components.empty(); }
  bool HooksImports() const {
    return failCall != 0 || !failedLoads.empty() || countCalls || watchHandles || traceCalls;
  }
};

// False when the command line does not fit the usage.
bool ParseArguments(int argc, wchar_t** argv, Arguments& arguments);

extern const char kUsage[];

}  // namespace kvca::run
