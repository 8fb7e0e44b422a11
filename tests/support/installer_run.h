// Runs programs (msiexec, rundll32, stand-ins) from a test and reads what they
// leave behind. Exit codes are read here in full: the Linux shell would see
// them cut to 8 bits.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvca::test {

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  bool started = false;
};

// Starts a command line, waits for it without a time limit, returns its exit code.
RunResult RunCommand(const std::wstring& commandLine);

// The reference package and the library built beside the tests.
std::wstring ReferencePackage();
std::wstring LibraryPath();

// One msiexec run with a verbose log; `log` gets the log's lines.
struct MsiexecRun {
  RunResult result;
  std::vector<std::string> log;

  bool LogHas(const std::string& line) const;            // a whole line
  bool LogContains(const std::string& part) const;       // part of any line
  size_t CountLines(const std::string& line) const;
  std::string Excerpt(const std::string& part) const;     // matching lines, for failure output
};

// msiexec /i or /x of the reference package, quiet, with extra properties
// ("NAME=value ...").
MsiexecRun InstallReferencePackage(const std::wstring& properties = L"");
MsiexecRun RemoveReferencePackage(const std::wstring& properties = L"");
MsiexecRun RunMsiexec(const std::wstring& arguments);

std::vector<std::string> ReadLines(const std::wstring& path);

}  // namespace kvca::test
