#include "runner/arguments.h"

#include <cwchar>

namespace kvca::run {

const char kUsage[] =
    "usage: kvca-run [--package FILE.msi | --tables DIR] [--set NAME=VALUE]... [--data TEXT]\n"
    "                [--repeat NAME=TEXT*COUNT]...\n"
    "                [--cost] [--feature NAME=STATE]... [--component NAME=STATE]...\n"
    "                [--watch NAME]... [--show-table TABLE]... [--command-line TEXT]\n"
    "                [--fail-call N|NAME[:K][@AFTER]] [--fail-load DLL]...\n"
    "                [--count-calls] [--watch-handles] [--trace-calls] [--time] DLL EXPORT\n"
    "       kvca-run --version\n"
    "STATE: local, source, absent, advertised or default\n";

// On the command line U+2401 stands for the data separator U+0001 and U+2400
// for NUL (where the installer ends a property's value).
static std::wstring Value(std::wstring text) {
  for (wchar_t& ch : text) {
    if (ch == L'\x2401') ch = L'\x0001';
    if (ch == L'\x2400') ch = L'\0';
  }
  return text;
}

static bool SplitAssignment(const std::wstring& text, std::wstring& name, std::wstring& value) {
  const size_t equals = text.find(L'=');
  if (equals == 0 || equals == std::wstring::npos) return false;
  name = text.substr(0, equals);
  value = text.substr(equals + 1);
  return true;
}

// NAME=TEXT*COUNT: TEXT (up to the last "*") COUNT times.
static bool AddRepeat(const std::wstring& text, Arguments& arguments) {
  std::wstring name, rest;
  const size_t star = text.rfind(L'*');
  if (!SplitAssignment(text, name, rest) || star == std::wstring::npos || star < name.size()) return false;
  wchar_t* end = nullptr;
  const unsigned long count = wcstoul(text.c_str() + star + 1, &end, 10);
  if (*end != L'\0') return false;
  arguments.repeats.push_back({name, Value(text.substr(name.size() + 1, star - name.size() - 1)), count});
  return true;
}

static bool ParseState(const std::wstring& text, INSTALLSTATE& state) {
  static const struct {
    const wchar_t* name;
    INSTALLSTATE state;
  } kStates[] = {{L"local", INSTALLSTATE_LOCAL},
                 {L"source", INSTALLSTATE_SOURCE},
                 {L"absent", INSTALLSTATE_ABSENT},
                 {L"advertised", INSTALLSTATE_ADVERTISED},
                 {L"default", INSTALLSTATE_DEFAULT}};
  for (const auto& known : kStates)
    if (text == known.name) {
      state = known.state;
      return true;
    }
  return false;
}

// N (the N-th call counted), NAME (its first call) or NAME:K (its K-th), each
// NAME form optionally followed by @AFTER: counting from AFTER's first call.
static bool ParseFailedCall(std::wstring text, Arguments& arguments) {
  const size_t at = text.find(L'@');
  if (at != std::wstring::npos) {
    arguments.failAfter.assign(text.begin() + at + 1, text.end());
    text.erase(at);
  }
  const size_t colon = text.find(L':');
  const bool named = !iswdigit(text[0]);
  const std::wstring number = colon != std::wstring::npos ? text.substr(colon + 1) : named ? L"1" : text;
  const std::wstring function = colon != std::wstring::npos ? text.substr(0, colon) : named ? text : L"";
  wchar_t* end = nullptr;
  arguments.failCall = wcstoul(number.c_str(), &end, 10);
  arguments.failFunction.assign(function.begin(), function.end());
  return arguments.failCall != 0 && *end == L'\0';
}

static bool AddStateRequest(const std::wstring& text,
                            std::vector<std::pair<std::wstring, INSTALLSTATE>>& requests) {
  std::wstring name, stateName;
  INSTALLSTATE state = INSTALLSTATE_UNKNOWN;
  if (!SplitAssignment(text, name, stateName) || !ParseState(stateName, state)) return false;
  requests.emplace_back(name, state);
  return true;
}

// The options without a value.
static bool SetFlag(const std::wstring& option, Arguments& arguments) {
  static const struct {
    const wchar_t* name;
    bool Arguments::*flag;
  } kFlags[] = {{L"--cost", &Arguments::cost},
                {L"--count-calls", &Arguments::countCalls},
                {L"--watch-handles", &Arguments::watchHandles},
                {L"--trace-calls", &Arguments::traceCalls},
                {L"--time", &Arguments::time}};
  for (const auto& known : kFlags)
    if (option == known.name) {
      arguments.*known.flag = true;
      return true;
    }
  return false;
}

bool ParseArguments(int argc, wchar_t** argv, Arguments& arguments) {
  std::vector<std::wstring> positional;
  for (int i = 1; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (SetFlag(option, arguments)) continue;
    if (option.rfind(L"--", 0) != 0) {
      positional.push_back(option);
      continue;
    }
    if (i + 1 == argc) return false;
    const std::wstring value = argv[++i];
    if (option == L"--package" && arguments.package.empty() && arguments.tables.empty()) {
      arguments.package = value;
    } else if (option == L"--tables" && arguments.package.empty() && arguments.tables.empty()) {
      arguments.tables = value;
    } else if (option == L"--set") {
      std::wstring name, text;
      if (!SplitAssignment(value, name, text)) return false;
      arguments.properties.emplace_back(name, Value(text));
    } else if (option == L"--repeat") {
      if (!AddRepeat(value, arguments)) return false;
    } else if (option == L"--data") {
      arguments.hasData = true;
      arguments.data = Value(value);
    } else if (option == L"--feature") {
      if (!AddStateRequest(value, arguments.features)) return false;
    } else if (option == L"--component") {
      if (!AddStateRequest(value, arguments.components)) return false;
    } else if (option == L"--watch") {
      arguments.watched.push_back(value);
    } else if (option == L"--show-table") {
      arguments.shownTables.push_back(value);
    } else if (option == L"--command-line") {
      arguments.hasCommandLine = true;
      arguments.commandLine = value;
    } else if (option == L"--fail-call") {
      if (!ParseFailedCall(value, arguments)) return false;
    } else if (option == L"--fail-load") {
      arguments.failedLoads.push_back(value);
    } else {
      return false;
    }
  }
  if (positional.size() != 2) return false;
  arguments.dll = positional[0];
  arguments.exportName = positional[1];
  return true;
}

}  // namespace kvca::run
