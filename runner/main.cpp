// kvca-run: runs one export of a custom-action DLL in a session of its own and
// prints what it did: the records it sent, its result, the properties it
// changed, the tables asked for and the installer handles it left open. Its
// fault injection (import_hooks.h) counts the export's calls, makes one fail,
// and shows the handles the export left open.
#include "frame/handles.h"
#include "runner/arguments.h"
#include "runner/handle_ledger.h"
#include "runner/import_hooks.h"
#include "runner/package.h"
#include "runner/records.h"

#include <msiquery.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <map>
#include <set>

namespace kvca::run {
namespace {

using Action = UINT(__stdcall*)(MSIHANDLE);
using CommandLineEntry = void(CALLBACK*)(HWND, HINSTANCE, LPWSTR, int);
using PropertyValues = std::map<std::wstring, std::wstring>;

std::wstring Property(MSIHANDLE session, const std::wstring& name) {
  wchar_t empty[1] = {};
  DWORD size = 0;
  if (MsiGetPropertyW(session, name.c_str(), empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  ++size;
  if (MsiGetPropertyW(session, name.c_str(), &value[0], &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

// Export names are ANSI text.
std::string ExportName(const std::wstring& name) {
  const int size = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, &ansi[0], size, nullptr, nullptr);
  return ansi.c_str();
}

// Field 1 of every row of a one-column query; nothing when the table is missing.
void AddColumn(MSIHANDLE database, const wchar_t* query, std::set<std::wstring>& names) {
  MsiHandle view;
  if (MsiDatabaseOpenViewW(database, query, view.put()) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS)
    return;
  MsiHandle row;
  while (MsiViewFetch(view.get(), row.put()) == ERROR_SUCCESS) names.insert(FieldText(row.get(), 1));
  MsiViewClose(view.get());
}

// The properties an action may change: the package's own, the ones named on
// the command line, CustomActionData, and the deferred actions' data.
std::set<std::wstring> WatchedNames(MSIHANDLE session, const Arguments& arguments) {
  std::set<std::wstring> names(arguments.watched.begin(), arguments.watched.end());
  for (const auto& property : arguments.properties) names.insert(property.first);
  names.insert(L"CustomActionData");
  MsiHandle database(MsiGetActiveDatabase(session));
  AddColumn(database.get(), L"SELECT `Property` FROM `Property`", names);
  AddColumn(database.get(), L"SELECT `Action` FROM `CustomAction`", names);
  return names;
}

PropertyValues ReadProperties(MSIHANDLE session, const std::set<std::wstring>& names) {
  PropertyValues values;
  for (const std::wstring& name : names) values[name] = Property(session, name);
  return values;
}

void PrintChangedProperties(MSIHANDLE session, const PropertyValues& before) {
  for (const auto& property : before) {
    const std::wstring now = Property(session, property.first);
    if (now != property.second)
      PrintLine(L"property " + property.first + L": " + Quoted(property.second) + L" -> " +
                Quoted(now));
  }
}

void PrintTable(MSIHANDLE session, const std::wstring& table) {
  const std::wstring prefix = L"table " + table + L": ";
  MsiHandle database(MsiGetActiveDatabase(session));
  MsiHandle view;
  if (MsiDatabaseOpenViewW(database.get(), (L"SELECT * FROM `" + table + L"`").c_str(), view.put()) !=
          ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    PrintLine(prefix + L"none");
    return;
  }
  MsiHandle row;
  while (MsiViewFetch(view.get(), row.put()) == ERROR_SUCCESS) {
    std::wstring line = prefix;
    const UINT count = MsiRecordGetFieldCount(row.get());
    for (UINT field = 1; field <= count; ++field)
      line += (field == 1 ? L"" : L" | ") + FieldNotation(row.get(), field);
    PrintLine(line);
  }
  MsiViewClose(view.get());
}

void RunCost(MSIHANDLE session, const Arguments& arguments) {
  for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
    if (const UINT result = MsiDoActionW(session, action))
      PrintLine(std::wstring(L"cost: ") + action + L" " + std::to_wstring(result));
  for (const auto& feature : arguments.features)
    if (const UINT result = MsiSetFeatureStateW(session, feature.first.c_str(), feature.second))
      PrintLine(L"feature " + feature.first + L": " + std::to_wstring(result));
  for (const auto& component : arguments.components)
    if (const UINT result = MsiSetComponentStateW(session, component.first.c_str(), component.second))
      PrintLine(L"component " + component.first + L": " + std::to_wstring(result));
}

// A custom action gets the session; a rundll32 entry point the command line.
UINT CallExport(const Arguments& arguments, HMODULE module, FARPROC address, MSIHANDLE session) {
  if (arguments.hasCommandLine) {
    std::wstring commandLine = arguments.commandLine;
    reinterpret_cast<CommandLineEntry>(reinterpret_cast<void*>(address))(nullptr, module, &commandLine[0],
                                                                        SW_SHOWNORMAL);
    return ERROR_SUCCESS;
  }
  return reinterpret_cast<Action>(reinterpret_cast<void*>(address))(session);
}

// Everything from opening the session to the last line; returns the exit code.
int RunExport(const Arguments& arguments, const std::wstring& packagePath) {
  CaptureRecords();
  MsiHandle session;
  if (const UINT result = MsiOpenPackageW(packagePath.c_str(), session.put())) {
    PrintLine(L"package: " + std::to_wstring(result));
    return 1;
  }
  for (const auto& property : arguments.properties)
    MsiSetPropertyW(session.get(), property.first.c_str(), property.second.c_str());
  if (arguments.hasData) MsiSetPropertyW(session.get(), L"CustomActionData", arguments.data.c_str());
  for (const Arguments::Repeat& repeat : arguments.repeats) {
    std::wstring value = Property(session.get(), repeat.name);
    for (unsigned long i = 0; i < repeat.count; ++i) value += repeat.text;
    MsiSetPropertyW(session.get(), repeat.name.c_str(), value.c_str());
  }
  if (arguments.RunsCost()) RunCost(session.get(), arguments);

  ModuleHandle module(LoadLibraryW(arguments.dll.c_str()));
  if (!module) {
    PrintLine(L"load: " + std::to_wstring(GetLastError()));
    return 1;
  }
  const FARPROC address = GetProcAddress(module.get(), ExportName(arguments.exportName).c_str());
  if (!address) {
    PrintLine(L"export: missing");
    return 1;
  }
  if (arguments.HooksImports())
    HookImports(module.get(),
                {arguments.failCall, arguments.failFunction, arguments.failAfter, arguments.failedLoads,
                 arguments.traceCalls});

  const PropertyValues before = ReadProperties(session.get(), WatchedNames(session.get(), arguments));
  PrintRecords(true);
  const size_t handlesBefore = ProcessHandleCount();
  if (arguments.HooksImports()) StartCounting();
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  const UINT result = CallExport(arguments, module.get(), address, session.get());
  QueryPerformanceCounter(&end);
  const unsigned calls = StopCounting();
  const size_t handlesAfter = ProcessHandleCount();
  PrintRecords(false);

  PrintLine(arguments.hasCommandLine ? L"result: none" : L"result: " + std::to_wstring(result));
  if (arguments.time && QueryPerformanceFrequency(&frequency))
    PrintLine(L"time: " + std::to_wstring((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart) +
              L" us");
  if (arguments.countCalls) PrintLine(L"calls: " + std::to_wstring(calls));
  if (arguments.countCalls || arguments.watchHandles) PrintLine(L"open handles: " + OpenHandles());
  if (arguments.countCalls) {
    // The runtime's own handles are no leak of the export's.
    const long long change = static_cast<long long>(handlesAfter) - static_cast<long long>(handlesBefore) -
                             static_cast<long long>(RuntimeHandles());
    PrintLine(L"process handles: " + std::wstring(change >= 0 ? L"+" : L"") + std::to_wstring(change));
  }
  PrintChangedProperties(session.get(), before);
  for (const std::wstring& table : arguments.shownTables) PrintTable(session.get(), table);
  session.reset();
  PrintLine(L"handles: " + std::to_wstring(MsiCloseAllHandles()));
  return static_cast<int>(result);
}

}  // namespace
}  // namespace kvca::run

int wmain(int argc, wchar_t** argv) {
  using namespace kvca::run;
  if (argc == 2 && wcscmp(argv[1], L"--version") == 0) {
    printf("kvca-run %s\n", KVCA_VERSION);
    return 0;
  }
  Arguments arguments;
  if (!ParseArguments(argc, argv, arguments)) {
    fputs(kUsage, stderr);
    return ERROR_INVALID_PARAMETER;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes as they are, lines ending in \n

  TemporaryPackage package;
  const UINT made = arguments.package.empty() ? package.Scratch(arguments.tables)
                                              : package.CopyOf(arguments.package);
  if (made != ERROR_SUCCESS) {
    PrintLine(L"package: " + std::to_wstring(made));
    return 1;
  }
  return RunExport(arguments, package.path());
}
