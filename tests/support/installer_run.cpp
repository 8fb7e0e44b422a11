#include "support/installer_run.h"

#include <cstdio>
#include <cstdlib>

#include "frame/handles.h"
#include "support/session.h"

namespace kvca::test {

RunResult RunCommand(const std::wstring& commandLine) {
  RunResult run;
  std::wstring mutableLine = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return run;
  KernelHandle processHandle(process.hProcess);
  KernelHandle threadHandle(process.hThread);
  run.started = true;
  WaitForSingleObject(processHandle.get(), INFINITE);
  GetExitCodeProcess(processHandle.get(), &run.exitCode);
  return run;
}

static std::wstring FromEnvironment(const wchar_t* name, const wchar_t* fallback) {
  const wchar_t* value = _wgetenv(name);
  return value && *value ? value : fallback;
}

std::wstring ReferencePackage() { return FromEnvironment(L"KVCA_PACKAGE", L"kvca-reference.msi"); }
std::wstring LibraryPath() { return FromEnvironment(L"KVCA_DLL", L"kvca.dll"); }

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return lines;
  std::string line;
  for (int ch; (ch = fgetc(file)) != EOF;) {
    if (ch == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(ch));
    }
  }
  if (!line.empty()) lines.push_back(line);
  fclose(file);
  return lines;
}

bool MsiexecRun::LogHas(const std::string& wanted) const { return CountLines(wanted) > 0; }

size_t MsiexecRun::CountLines(const std::string& wanted) const {
  size_t count = 0;
  for (const std::string& line : log) count += line == wanted ? 1 : 0;
  return count;
}

bool MsiexecRun::LogContains(const std::string& part) const {
  for (const std::string& line : log)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

std::string MsiexecRun::Excerpt(const std::string& part) const {
  std::string excerpt;
  for (const std::string& line : log)
    if (line.find(part) != std::string::npos) excerpt += line + "\n";
  return excerpt.empty() ? "(no line holds \"" + part + "\")" : excerpt;
}

MsiexecRun RunMsiexec(const std::wstring& arguments) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring logPath = std::wstring(temp) + UniqueName(L"kvca_msiexec_") + L".log";
  MsiexecRun run;
  run.result = RunCommand(L"msiexec.exe " + arguments + L" /qn /l*v \"" + logPath + L"\"");
  run.log = ReadLines(logPath);
  DeleteFileW(logPath.c_str());
  return run;
}

MsiexecRun InstallReferencePackage(const std::wstring& properties) {
  return RunMsiexec(L"/i \"" + ReferencePackage() + L"\" " + properties);
}

MsiexecRun RemoveReferencePackage(const std::wstring& properties) {
  return RunMsiexec(L"/x \"" + ReferencePackage() + L"\" " + properties);
}

}  // namespace kvca::test
