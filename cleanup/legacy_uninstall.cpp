// UninstallCSP2 and UninstallTLS2: remove an older CSP or TLS product through
// its own uninstaller, run silently with the response file that the package
// carries as the Binary row uninstall.<csp|tls>.iss. Immediate actions.
#include "cleanup/legacy_uninstall.h"

#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

#include <msiquery.h>

#include <cwchar>

namespace kvca {

static const wchar_t kSource[] = L"Uninstall2";

static DWORD Report(MSIHANDLE install, const wchar_t* text, DWORD code) {
  ReportErrorRecord(install, kSource, text, code);
  return code;
}

// The response file: the Data stream of the Binary row uninstall.<namePart>.iss.
static DWORD ReadResponseFile(MSIHANDLE install, const wchar_t* namePart,
                              std::unique_ptr<BYTE[]>& data, DWORD& size) {
  static const wchar_t kQuery[] =
      L"SELECT `Binary`.`Data` FROM `Binary` WHERE `Binary`.`Name` = 'uninstall.";
  const size_t length = std::wcslen(kQuery) + std::wcslen(namePart) + std::wcslen(L".iss'");
  std::unique_ptr<wchar_t[]> query = TryAllocate<wchar_t>(length + 1);
  if (!query) return Report(install, L"Out of memory", ERROR_OUTOFMEMORY);
  wcscpy(query.get(), kQuery);
  wcscat(query.get(), namePart);
  wcscat(query.get(), L".iss'");

  MsiHandle database(MsiGetActiveDatabase(install));
  if (!database) return Report(install, L"Can't get active database", ERROR_DATABASE_DOES_NOT_EXIST);

  // A missing row or table shows as a stream size of 0.
  DatabaseView view;
  MsiHandle record;
  view.Open(database.get(), query.get());
  view.Execute();
  view.Fetch(record);
  size = MsiRecordDataSize(record.get(), 1);
  if (size == 0) return Report(install, L"MsiRecordDataSize failed", static_cast<DWORD>(NTE_FAIL));

  data = TryAllocate<BYTE>(size);
  if (!data) return Report(install, L"Out of memory", ERROR_OUTOFMEMORY);
  const UINT read = MsiRecordReadStream(record.get(), 1, reinterpret_cast<char*>(data.get()), &size);
  if (read != ERROR_SUCCESS) return Report(install, L"Can't read from database uninstall.iss", read);
  LogInfo(install, L"Read uninstall.iss from database");
  return ERROR_SUCCESS;
}

struct TempPaths {
  std::unique_ptr<wchar_t[]> response;  // <temp>uninstall.<namePart>.iss
  std::unique_ptr<wchar_t[]> log;       // <temp>uninstall.<namePart>.log
};

static DWORD MakeTempPaths(MSIHANDLE install, const wchar_t* namePart, TempPaths& paths) {
  paths.response = TryAllocate<wchar_t>(MAX_PATH);
  paths.log = TryAllocate<wchar_t>(MAX_PATH);
  if (!paths.response || !paths.log) return Report(install, L"Out of memory", ERROR_OUTOFMEMORY);

  const DWORD folderLength = GetTempPathW(MAX_PATH, paths.response.get());
  if (folderLength == 0) return Report(install, L"Can't get path to temp folder", GetLastError());
  // Both paths go to the uninstaller on its command line and must name exactly
  // the files written here: a temporary folder that leaves no room for them in
  // MAX_PATH fails now, before the registry or any file has been touched.
  const size_t nameLength = std::wcslen(L"uninstall.") + std::wcslen(namePart) + std::wcslen(L".iss");
  if (folderLength >= MAX_PATH || folderLength + nameLength >= MAX_PATH)
    return Report(install, L"Can't get path to temp folder", ERROR_FILENAME_EXCED_RANGE);

  wcscat(paths.response.get(), L"uninstall.");
  wcscat(paths.response.get(), namePart);
  wcscpy(paths.log.get(), paths.response.get());
  wcscat(paths.response.get(), L".iss");
  wcscat(paths.log.get(), L".log");
  return ERROR_SUCCESS;
}

static FileHandle CreateTempFile(const wchar_t* path) {
  return FileHandle(CreateFileW(path, GENERIC_ALL, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Creates the empty log for the uninstaller and the response file with the
// stream's bytes. The log is created only once the response file is, so that
// the code reported is always that of the call that failed.
static DWORD WriteTempFiles(MSIHANDLE install, const TempPaths& paths, const BYTE* data, DWORD size) {
  FileHandle response = CreateTempFile(paths.response.get());
  if (!response) return Report(install, L"Can't create temp files ", GetLastError());
  FileHandle log = CreateTempFile(paths.log.get());
  if (!log) return Report(install, L"Can't create temp files ", GetLastError());

  if (CloseHandle(log.release())) LogInfo(install, std::wstring(L"TempLog: ") + paths.log.get());
  DWORD written = 0;
  if (!WriteFile(response.get(), data, size, &written, nullptr))
    return Report(install, L"Can't write data to temp file ", GetLastError());
  if (CloseHandle(response.release()))
    LogInfo(install, std::wstring(L"TempISS: ") + paths.response.get());
  return ERROR_SUCCESS;
}

// The pending renames as read before the run; `saved` once they are out of the
// registry. From then on they go back on every way out of the action: through
// RevertReg, or, when the action ends on the way (the wide string's failure),
// through the destructor.
class SavedRenames {
 public:
  std::wstring entries;
  bool saved = false;

  SavedRenames() = default;
  SavedRenames(const SavedRenames&) = delete;
  SavedRenames& operator=(const SavedRenames&) = delete;
  ~SavedRenames() {
    if (saved) PutBackPendingRenames(entries);
  }
  // RevertReg ran; whatever it gave, nothing is written again.
  void Reverted() { saved = false; }
};

// Takes the pending renames out of the registry for the time of the run. A
// value that cannot be deleted was never taken out: the uninstaller does not
// run and nothing needs writing back.
static DWORD SetPendingRenamesAside(MSIHANDLE install, SavedRenames& renames) {
  RegKey key;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, key.put());
  if (opened != ERROR_SUCCESS)
    return Report(install,
                  L"Can't open reg key HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\",
                  opened);

  const LONG read = ReadPendingRenames(key.get(), renames.entries);
  if (read == ERROR_SUCCESS) {
    const LONG deleted = RegDeleteValueW(key.get(), kPendingRenamesValue);
    if (deleted != ERROR_SUCCESS) return Report(install, L"Delete value error", deleted);
    renames.saved = true;
    LogInfo(install, L"Deleting value \"PendingFileRenameOperations\" ok");
  } else if (read == ERROR_FILE_NOT_FOUND) {
    LogInfo(install, L"There is no reg key, it's ok");
  }
  return ERROR_SUCCESS;
}

static DWORD RunWithResponseFile(MSIHANDLE install, const wchar_t* command, const TempPaths& paths) {
  std::wstring commandLine = command;
  commandLine += L"-s -f1\"";
  commandLine += paths.response.get();
  commandLine += L"\" -f2\"";
  commandLine += paths.log.get();
  commandLine += L"\"";

  const UINT ran = RunUninstall(install, commandLine);
  if (ran != ERROR_SUCCESS) return Report(install, L"RunUninstall() fail", ran);
  const DWORD resultCode = GetResultCode(install, paths.log.get());
  if (resultCode != ERROR_SUCCESS) return Report(install, L"ResultCode != ERROR_SUCCESS", resultCode);

  if (!DeleteFileW(paths.response.get()) || !DeleteFileW(paths.log.get()))
    return Report(install, L"error deleting temporary files", GetLastError());
  LogInfo(install, L"Deleting temp files: TempISS and TempLog");
  return ERROR_SUCCESS;
}

UINT Uninstall2(MSIHANDLE install, const wchar_t* command, const wchar_t* namePart) {
  LogInfo(install, L"Uninstall2() Started");

  std::unique_ptr<BYTE[]> data;
  DWORD size = 0;
  DWORD result = ReadResponseFile(install, namePart, data, size);
  if (result != ERROR_SUCCESS) return result;
  TempPaths paths;
  result = MakeTempPaths(install, namePart, paths);
  if (result != ERROR_SUCCESS) return result;
  result = WriteTempFiles(install, paths, data.get(), size);
  if (result != ERROR_SUCCESS) return result;

  SavedRenames renames;
  result = SetPendingRenamesAside(install, renames);
  if (result != ERROR_SUCCESS) return result;
  result = RunWithResponseFile(install, command, paths);

  if (renames.saved) {
    const DWORD reverted = RevertReg(install, kSessionManagerKey, renames.entries);
    renames.Reverted();
    if (reverted == ERROR_SUCCESS)
      LogInfo(install, L"Reverting reg value \"PendingFileRenameOperations\" ok");
    else
      result = reverted;
  }
  return result;
}

// The two actions differ only in these.
struct LegacyProduct {
  const wchar_t* action;
  const wchar_t* property;
  const wchar_t* namePart;
  const wchar_t* readFailure;
  const wchar_t* uninstallFailure;
  bool failureIs1603;  // UninstallCSP2 returns 1603, UninstallTLS2 the code itself
};

static const LegacyProduct kCsp = {L"UninstallCSP2", L"UNINSTALLSTRINGCSP2", L"csp",
                                   L"MsiGetProperty UNINSTALLSTRINGCSP2 fail ", L"Uninstall2 fail",
                                   true};
static const LegacyProduct kTls = {L"UninstallTLS2", L"UNINSTALLSTRINGTLS2", L"tls",
                                   L"MsiGetProperty UNINSTALLSTRINGTLS2 fail ", L"Uninstall2 FAIL",
                                   false};

static UINT UninstallLegacyProduct(MSIHANDLE install, const LegacyProduct& product) {
  // With a valid installer handle the probe always answers ERROR_MORE_DATA. An
  // error answer is reported as a failed read; a success (no room needed) is
  // taken as an empty property.
  wchar_t empty[1] = {L'\0'};
  DWORD length = 0;
  UINT read = MsiGetPropertyW(install, product.property, empty, &length);
  std::unique_ptr<wchar_t[]> command;
  if (read == ERROR_MORE_DATA) {
    command = TryAllocate<wchar_t>(static_cast<size_t>(length) + 1);
    if (!command) {
      ReportErrorRecord(install, product.action, L"Out of memory", ERROR_OUTOFMEMORY);
      return ERROR_OUTOFMEMORY;
    }
    DWORD capacity = length + 1;
    read = MsiGetPropertyW(install, product.property, command.get(), &capacity);
  }
  if (read != ERROR_SUCCESS) {
    ReportErrorRecord(install, product.action, product.readFailure, read);
    return read;
  }

  const UINT result = Uninstall2(install, command ? command.get() : L"", product.namePart);
  if (result == ERROR_SUCCESS) return ERROR_SUCCESS;
  const UINT failure = product.failureIs1603 ? ERROR_INSTALL_FAILURE : result;
  ReportErrorRecord(install, product.action, product.uninstallFailure, failure);
  return failure;
}

}  // namespace kvca

KVCA_ACTION UninstallCSP2(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::UninstallLegacyProduct(install, kvca::kCsp); });
}

KVCA_ACTION UninstallTLS2(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::UninstallLegacyProduct(install, kvca::kTls); });
}
