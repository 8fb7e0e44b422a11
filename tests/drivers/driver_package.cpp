#include "drivers/driver_package.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "drivers/driver_registry.h"
#include "frame/handles.h"
#include "frame/wide.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

namespace kvca::test {

namespace {

std::string ReadWhole(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::wstring Joined(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  std::wstring joined;
  for (const std::wstring& name : names) joined += (joined.empty() ? L"" : L"|") + name;
  return joined;
}

}  // namespace

std::wstring FixtureFile(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  GetEnvironmentVariableW(L"KVCA_FIXTURES", folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TestDriverPackage::TestDriverPackage(const wchar_t* templateName, Driver driver)
    : name_(UniqueName(L"kvt")), componentId_(L"{" + name_ + L"}") {
  std::string inf = ReadWhole(FixtureFile(templateName));
  EXPECT_FALSE(inf.empty()) << "fixture " << Narrow(templateName);
  const std::string name = Narrow(name_);
  for (size_t at = inf.find("KVTESTNAME"); at != std::string::npos; at = inf.find("KVTESTNAME", at))
    inf.replace(at, 10, name);
  std::ofstream(infPath().c_str(), std::ios::binary) << inf;
  const wchar_t* sys = driver == Driver::WithUnload ? L"kvtestdrv_unload.sys" : L"kvtestdrv_nounload.sys";
  EXPECT_TRUE(CopyFileW(FixtureFile(sys).c_str(), SourceFile(L".sys").c_str(), FALSE));
  std::ofstream(SourceFile(L".dat").c_str(), std::ios::binary) << "test data\n";
}

std::wstring TestDriverPackage::Target(const wchar_t* extension) const {
  return WindowsFolder(L"system32\\drivers\\" + name_ + extension);
}

std::wstring TestDriverPackage::OemInf() const { return WindowsFolder(L"inf\\" + name_ + L".inf"); }

std::wstring TestDriverPackage::EventLogKey() const {
  return L"System\\CurrentControlSet\\Services\\EventLog\\System\\" + name_;
}

std::wstring WindowsFolder(const std::wstring& sub) {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\" + sub;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring FolderListing(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (find) {
    do names.push_back(entry.cFileName);
    while (FindNextFileW(find.get(), &entry));
  }
  return Joined(names);
}

std::wstring ServiceListing() {
  std::vector<std::wstring> names;
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  DWORD needed = 0, count = 0, resume = 0;
  EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_DRIVER | SERVICE_WIN32,
                        SERVICE_STATE_ALL, nullptr, 0, &needed, &count, &resume, nullptr);
  std::vector<BYTE> buffer(needed + 1024);
  resume = 0;
  if (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_DRIVER | SERVICE_WIN32,
                            SERVICE_STATE_ALL, buffer.data(), static_cast<DWORD>(buffer.size()),
                            &needed, &count, &resume, nullptr)) {
    auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names.push_back(services[i].lpServiceName);
  }
  return Joined(names);
}

DWORD ServiceState(const std::wstring& name) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS status = {};
  if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

bool DeviceOpens(const std::wstring& name) {
  FileHandle device(CreateFileW((L"\\\\.\\" + name).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return device.valid();
}

std::wstring InfLocation(const std::wstring& componentId) {
  return StringValue(HKEY_LOCAL_MACHINE, kInfLocationKey, componentId.c_str());
}

std::wstring RebootMarker() { return StringValue(HKEY_LOCAL_MACHINE, kRebootMarkerKey, kRebootMarkerValue); }

void DeleteRebootMarker() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRebootMarkerKey); }

static const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

// Pairs of source and target ("" to delete), each NUL-terminated; an empty
// source ends the list.
std::vector<std::wstring> PendingRenames() {
  std::vector<std::wstring> entries;
  DWORD type = 0;
  std::wstring data;
  if (!ReadRawValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", type, data))
    return entries;
  size_t at = 0;
  auto next = [&] {
    const size_t end = std::min(data.find(L'\0', at), data.size());
    std::wstring text = data.substr(at, end - at);
    at = end + 1;
    return text;
  };
  while (at < data.size()) {
    std::wstring source = next();
    if (source.empty()) break;
    entries.push_back(source);
    entries.push_back(next());
  }
  return entries;
}

void SetPendingRenames(const std::vector<std::wstring>& entries) {
  RegKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put());
  if (entries.empty()) {
    RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
    return;
  }
  std::wstring data;
  for (const std::wstring& entry : entries) data += entry + L'\0';
  data += L'\0';
  RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                 reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

ConsoleLog::ConsoleLog() { stream_ = _wfopen(folder_.File(L"ksinstall.log").c_str(), L"wt"); }

ConsoleLog::~ConsoleLog() {
  if (stream_) fclose(stream_);
}

std::vector<std::string> ConsoleLog::Lines() {
  if (stream_) fclose(stream_);
  stream_ = nullptr;
  return ReadLines(folder_.File(L"ksinstall.log"));
}

std::vector<std::wstring> SinkInfoTexts(const std::vector<Message>& captured) {
  std::vector<std::wstring> texts;
  for (const Message& message : captured)
    if (message.type == INSTALLMESSAGE_INFO && message.HasField(0) &&
        message.Text(0) == L"KSInstall64:info: [1]" && message.HasField(1))
      texts.push_back(message.Text(1));
  return texts;
}

std::vector<std::wstring> SinkErrorTexts(const std::vector<Message>& captured) {
  std::vector<std::wstring> texts;
  for (const Message& message : captured)
    if (message.type == INSTALLMESSAGE_INFO && message.HasField(0) &&
        message.Text(0) == L"KSInstall64:error #[1]:[2]" && message.HasField(2))
      texts.push_back(std::to_wstring(message.Integer(1)) + L":" + message.Text(2));
  return texts;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace kvca::test
