// A test driver package written from a fixture INF under a unique name, and
// what the driver tests read back from the machine.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/session.h"

namespace kvca::test {

// The fixture INF `templateName` with KVTESTNAME replaced by a unique name,
// in a scratch folder beside <name>.sys (the test driver) and <name>.dat.
class TestDriverPackage {
 public:
  enum class Driver { WithUnload, WithoutUnload };
  explicit TestDriverPackage(const wchar_t* templateName, Driver driver = Driver::WithUnload);

  const std::wstring& name() const { return name_; }
  const std::wstring& componentId() const { return componentId_; }
  std::wstring infPath() const { return folder_.File(name_ + L".inf"); }
  std::wstring SourceFile(const wchar_t* extension) const { return folder_.File(name_ + extension); }
  // Where the INF's CopyFiles put a file: the system's drivers folder.
  std::wstring Target(const wchar_t* extension) const;
  // Wine keeps the INF's own name for its OEM copy.
  std::wstring OemInf() const;
  std::wstring SettingsKey() const { return L"SOFTWARE\\KvTest\\" + name_; }
  std::wstring EventLogKey() const;

 private:
  ScratchFolder folder_;
  std::wstring name_;
  std::wstring componentId_;
};

// A file built or copied into the fixtures folder (KVCA_FIXTURES).
std::wstring FixtureFile(const std::wstring& name);
std::wstring WindowsFolder(const std::wstring& sub);
bool FileExists(const std::wstring& path);
// File names of a folder, sorted and "|"-joined.
std::wstring FolderListing(const std::wstring& folder);
// Service names of the service manager, sorted and "|"-joined.
std::wstring ServiceListing();
// The service's current state, or 0 when the service does not exist.
DWORD ServiceState(const std::wstring& name);
// The test driver's device opens only while the driver runs.
bool DeviceOpens(const std::wstring& name);
// The stored OEM INF path under the component ID, "" when there is none.
std::wstring InfLocation(const std::wstring& componentId);
std::wstring RebootMarker();
void DeleteRebootMarker();
// PendingFileRenameOperations as source, target, source, target, ...
std::vector<std::wstring> PendingRenames();
void SetPendingRenames(const std::vector<std::wstring>& entries);

// A log file for the console sink, opened "wt" like the command-line entry points do.
class ConsoleLog {
 public:
  ConsoleLog();
  ~ConsoleLog();
  FILE* stream() const { return stream_; }
  // Closes the stream and returns its lines.
  std::vector<std::string> Lines();

 private:
  ScratchFolder folder_;
  FILE* stream_ = nullptr;
};

// The texts of the "KSInstall64:info: [1]" records, the installer sink's lines.
std::vector<std::wstring> SinkInfoTexts(const std::vector<Message>& captured);
// "code:text" of every "KSInstall64:error #[1]:[2]" record.
std::vector<std::wstring> SinkErrorTexts(const std::vector<Message>& captured);

std::string Narrow(const std::wstring& text);
bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line);
bool Contains(const std::vector<std::string>& lines, const std::string& line);

}  // namespace kvca::test
