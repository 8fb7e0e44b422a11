#include "runner/failure_table.h"

#include <msi.h>
#include <msiquery.h>
#include <setupapi.h>
#include <winscard.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace kvca::run {
namespace {

constexpr ULONG_PTR kAllBits = ~ULONG_PTR{0};  // -1 and INVALID_HANDLE_VALUE alike

// A function that reports failure by its result and the last-error value.
constexpr FailureRule Fails(const char* function, ULONG_PTR result, DWORD lastError) {
  return {function, FailureKind::kFails, result, lastError};
}
// A function whose result is the error code itself (registry, installer,
// smart-card and security functions); the last-error value stays as it was.
constexpr FailureRule Returns(const char* function, ULONG_PTR code) {
  return {function, FailureKind::kFails, code, kKeepsLastError};
}
constexpr FailureRule Releases(const char* function) {
  return {function, FailureKind::kReleases, 0, kKeepsLastError};
}
constexpr FailureRule NeverFails(const char* function) {
  return {function, FailureKind::kNeverFails, 0, kKeepsLastError};
}

// Last-error values: access denied where the system refuses, out of memory
// where it allocates; the other codes are those the functions document.
const FailureRule kRules[] = {
    // ADVAPI32: services
    Fails("ChangeServiceConfigW", FALSE, ERROR_ACCESS_DENIED),
    Releases("CloseServiceHandle"),
    Fails("ControlService", FALSE, ERROR_ACCESS_DENIED),
    Fails("CreateServiceW", 0, ERROR_ACCESS_DENIED),
    Fails("DeleteService", FALSE, ERROR_ACCESS_DENIED),
    Fails("OpenSCManagerW", 0, ERROR_ACCESS_DENIED),
    Fails("OpenServiceW", 0, ERROR_ACCESS_DENIED),
    Fails("QueryServiceConfigW", FALSE, ERROR_ACCESS_DENIED),
    Fails("QueryServiceStatus", FALSE, ERROR_ACCESS_DENIED),
    Fails("StartServiceW", FALSE, ERROR_ACCESS_DENIED),
    // ADVAPI32: providers
    Fails("CryptAcquireContextW", FALSE, static_cast<DWORD>(NTE_BAD_KEYSET)),
    Fails("CryptEnumProvidersW", FALSE, static_cast<DWORD>(NTE_FAIL)),
    Fails("CryptGetDefaultProviderW", FALSE, static_cast<DWORD>(NTE_FAIL)),
    Fails("CryptGetProvParam", FALSE, static_cast<DWORD>(NTE_FAIL)),
    Releases("CryptReleaseContext"),
    Fails("CryptSetProviderExW", FALSE, static_cast<DWORD>(NTE_FAIL)),
    // ADVAPI32: security descriptors
    Fails("ConvertStringSecurityDescriptorToSecurityDescriptorW", FALSE, ERROR_NOT_ENOUGH_MEMORY),
    Fails("GetSecurityDescriptorSacl", FALSE, ERROR_INVALID_SECURITY_DESCR),
    Returns("SetNamedSecurityInfoW", ERROR_ACCESS_DENIED),
    // ADVAPI32: registry
    Releases("RegCloseKey"),
    Returns("RegCreateKeyExW", ERROR_ACCESS_DENIED),
    Returns("RegDeleteKeyW", ERROR_ACCESS_DENIED),
    Returns("RegDeleteValueW", ERROR_ACCESS_DENIED),
    Returns("RegEnumKeyExW", ERROR_ACCESS_DENIED),
    Returns("RegEnumKeyW", ERROR_ACCESS_DENIED),
    Returns("RegOpenKeyExW", ERROR_ACCESS_DENIED),
    Returns("RegOpenKeyW", ERROR_ACCESS_DENIED),
    Returns("RegQueryInfoKeyW", ERROR_ACCESS_DENIED),
    Returns("RegQueryValueExW", ERROR_ACCESS_DENIED),
    Returns("RegQueryValueW", ERROR_ACCESS_DENIED),
    Returns("RegSetValueExW", ERROR_ACCESS_DENIED),
    // SHLWAPI, SHELL32
    Returns("SHDeleteKeyW", ERROR_ACCESS_DENIED),
    Fails("CommandLineToArgvW", 0, ERROR_NOT_ENOUGH_MEMORY),
    // KERNEL32: files, processes, devices, modules
    Releases("CloseHandle"),
    Fails("CompareStringOrdinal", 0, ERROR_INVALID_PARAMETER),
    Fails("CreateFileW", kAllBits, ERROR_ACCESS_DENIED),
    Fails("CreateProcessW", FALSE, ERROR_FILE_NOT_FOUND),
    Fails("DeleteFileW", FALSE, ERROR_ACCESS_DENIED),
    Fails("DeviceIoControl", FALSE, ERROR_INVALID_FUNCTION),
    Fails("ExpandEnvironmentStringsW", 0, ERROR_NOT_ENOUGH_MEMORY),
    Releases("FindClose"),
    Fails("FindFirstFileW", kAllBits, ERROR_ACCESS_DENIED),
    Fails("FindNextFileW", FALSE, ERROR_ACCESS_DENIED),
    Releases("FreeLibrary"),
    Fails("GetExitCodeProcess", FALSE, ERROR_INVALID_HANDLE),
    Fails("GetFileSize", INVALID_FILE_SIZE, ERROR_ACCESS_DENIED),
    Fails("GetFullPathNameW", 0, ERROR_FILENAME_EXCED_RANGE),
    Fails("GetModuleHandleW", 0, ERROR_MOD_NOT_FOUND),
    Fails("GetProcAddress", 0, ERROR_PROC_NOT_FOUND),
    Fails("GetShortPathNameW", 0, ERROR_FILE_NOT_FOUND),
    Fails("GetSystemWindowsDirectoryW", 0, ERROR_NOT_ENOUGH_MEMORY),
    Fails("GetTempFileNameW", 0, ERROR_ACCESS_DENIED),
    Fails("GetTempPathW", 0, ERROR_NOT_ENOUGH_MEMORY),
    // The delay-load helper's, and the system-folder loads of kvca.dll's own
    // check and delay-load hook: failed only by --fail-load, never counted.
    Fails("LoadLibraryA", 0, ERROR_MOD_NOT_FOUND),
    Fails("LoadLibraryExW", 0, ERROR_MOD_NOT_FOUND),
    Fails("LoadLibraryW", 0, ERROR_MOD_NOT_FOUND),
    Fails("LocalAlloc", 0, ERROR_NOT_ENOUGH_MEMORY),
    Releases("LocalFree"),
    Fails("MoveFileExW", FALSE, ERROR_ACCESS_DENIED),
    Fails("MultiByteToWideChar", 0, ERROR_INSUFFICIENT_BUFFER),
    Fails("ReadFile", FALSE, ERROR_ACCESS_DENIED),
    Fails("SetFileAttributesW", FALSE, ERROR_ACCESS_DENIED),
    Fails("VirtualAlloc", 0, ERROR_NOT_ENOUGH_MEMORY),
    Releases("VirtualFree"),
    Fails("WaitForSingleObject", WAIT_FAILED, ERROR_INVALID_HANDLE),
    Fails("WriteFile", FALSE, ERROR_DISK_FULL),
    // KERNEL32: what the C and C++ runtime use, and what cannot fail
    NeverFails("CreateSemaphoreW"),
    NeverFails("DeleteCriticalSection"),
    NeverFails("EnterCriticalSection"),
    NeverFails("GetCurrentThreadId"),
    NeverFails("GetLastError"),
    NeverFails("GetVersion"),
    NeverFails("InitializeCriticalSection"),
    NeverFails("IsDBCSLeadByteEx"),
    NeverFails("LeaveCriticalSection"),
    NeverFails("RaiseException"),
    NeverFails("ReleaseSemaphore"),
    NeverFails("RtlCaptureContext"),
    NeverFails("RtlLookupFunctionEntry"),
    NeverFails("RtlUnwindEx"),
    NeverFails("RtlVirtualUnwind"),
    NeverFails("SetLastError"),
    NeverFails("Sleep"),
    NeverFails("TlsAlloc"),
    NeverFails("TlsFree"),
    NeverFails("TlsGetValue"),
    NeverFails("TlsSetValue"),
    NeverFails("VirtualProtect"),
    NeverFails("VirtualQuery"),
    NeverFails("lstrcmpW"),
    NeverFails("lstrcmpiW"),
    NeverFails("lstrlenW"),
    // msi
    Releases("MsiCloseHandle"),
    Fails("MsiCreateRecord", 0, kKeepsLastError),
    Returns("MsiDatabaseIsTablePersistentW", MSICONDITION_ERROR),
    Returns("MsiDatabaseOpenViewW", ERROR_BAD_QUERY_SYNTAX),
    Returns("MsiDoActionW", ERROR_FUNCTION_FAILED),
    Returns("MsiEnumClientsW", ERROR_BAD_CONFIGURATION),
    Returns("MsiEnumComponentsW", ERROR_BAD_CONFIGURATION),
    Returns("MsiEnumRelatedProductsW", ERROR_BAD_CONFIGURATION),
    Returns("MsiEvaluateConditionW", MSICONDITION_ERROR),
    Returns("MsiFormatRecordW", ERROR_FUNCTION_FAILED),
    Fails("MsiGetActiveDatabase", 0, kKeepsLastError),
    Returns("MsiGetComponentPathW", static_cast<ULONG_PTR>(INSTALLSTATE_UNKNOWN)),
    Returns("MsiGetComponentStateW", ERROR_UNKNOWN_COMPONENT),
    Returns("MsiGetFeatureStateW", ERROR_UNKNOWN_FEATURE),
    Fails("MsiGetLastErrorRecord", 0, kKeepsLastError),
    Returns("MsiGetPropertyW", ERROR_FUNCTION_FAILED),
    Returns("MsiGetTargetPathW", ERROR_DIRECTORY),
    Returns("MsiProcessMessage", kAllBits),
    Returns("MsiRecordDataSize", 0),
    Returns("MsiRecordGetInteger", static_cast<ULONG_PTR>(MSI_NULL_INTEGER)),
    Returns("MsiRecordGetStringW", ERROR_INVALID_HANDLE),
    Returns("MsiRecordReadStream", ERROR_INVALID_DATATYPE),
    Returns("MsiRecordSetInteger", ERROR_INVALID_PARAMETER),
    Returns("MsiRecordSetStringW", ERROR_INVALID_PARAMETER),
    Returns("MsiSetFeatureStateW", ERROR_UNKNOWN_FEATURE),
    Returns("MsiSetMode", ERROR_ACCESS_DENIED),
    Returns("MsiSetPropertyW", ERROR_FUNCTION_FAILED),
    Returns("MsiViewClose", ERROR_FUNCTION_FAILED),
    Returns("MsiViewExecute", ERROR_FUNCTION_FAILED),
    Returns("MsiViewFetch", ERROR_FUNCTION_FAILED),
    Returns("MsiViewModify", ERROR_FUNCTION_FAILED),
    // msvcrt: allocations, the log file of the command-line entry points
    Fails("calloc", 0, ERROR_NOT_ENOUGH_MEMORY),
    Fails("malloc", 0, ERROR_NOT_ENOUGH_MEMORY),
    Fails("realloc", 0, ERROR_NOT_ENOUGH_MEMORY),
    Fails("_wfopen", 0, ERROR_ACCESS_DENIED),
    Fails("fflush", static_cast<ULONG_PTR>(EOF), ERROR_DISK_FULL),
    Fails("fputws", static_cast<ULONG_PTR>(WEOF), ERROR_DISK_FULL),
    Fails("fwrite", 0, ERROR_DISK_FULL),
    Releases("fclose"),
    Releases("free"),
    NeverFails("___lc_codepage_func"),
    NeverFails("___mb_cur_max_func"),
    NeverFails("__iob_func"),
    NeverFails("_amsg_exit"),
    NeverFails("_errno"),
    NeverFails("_initterm"),
    NeverFails("_lock"),
    NeverFails("_unlock"),
    NeverFails("_vscwprintf"),
    NeverFails("_vsnwprintf"),
    NeverFails("_wtol"),
    NeverFails("abort"),
    NeverFails("getc"),
    NeverFails("islower"),
    NeverFails("isspace"),
    NeverFails("isupper"),
    NeverFails("isxdigit"),
    NeverFails("localeconv"),
    NeverFails("memcmp"),
    NeverFails("memcpy"),
    NeverFails("memmove"),
    NeverFails("memset"),
    NeverFails("strcmp"),
    NeverFails("strlen"),
    NeverFails("strncmp"),
    NeverFails("strstr"),
    NeverFails("strtol"),
    NeverFails("strtoul"),
    NeverFails("tolower"),
    NeverFails("ungetc"),
    NeverFails("vfprintf"),
    NeverFails("wcscat"),
    NeverFails("wcschr"),
    NeverFails("wcscmp"),
    NeverFails("wcscpy"),
    NeverFails("wcslen"),
    NeverFails("wcsncat"),
    NeverFails("wcsstr"),
    // setupapi.dll (loaded on first use; two functions looked up by name)
    Fails("SetupCopyOEMInfW", FALSE, ERROR_ACCESS_DENIED),
    Releases("SetupCloseFileQueue"),
    Releases("SetupCloseInfFile"),
    Fails("SetupFindFirstLineW", FALSE, ERROR_LINE_NOT_FOUND),
    Fails("SetupFindNextLine", FALSE, ERROR_LINE_NOT_FOUND),
    Fails("SetupFindNextMatchLineW", FALSE, ERROR_LINE_NOT_FOUND),
    Fails("SetupGetInfDriverStoreLocationW", FALSE, ERROR_FILE_NOT_FOUND),
    Fails("SetupGetStringFieldW", FALSE, ERROR_INVALID_PARAMETER),
    Fails("SetupInstallFromInfSectionW", FALSE, ERROR_ACCESS_DENIED),
    Fails("SetupInstallServicesFromInfSectionW", FALSE, ERROR_ACCESS_DENIED),
    Fails("SetupOpenFileQueue", kAllBits, ERROR_NOT_ENOUGH_MEMORY),
    Fails("SetupOpenInfFileW", kAllBits, ERROR_ACCESS_DENIED),
    Fails("SetupQueueCopySectionW", FALSE, ERROR_ACCESS_DENIED),
    Fails("SetupScanFileQueueW", FALSE, ERROR_ACCESS_DENIED),
    Fails("SetupUninstallOEMInfW", FALSE, ERROR_ACCESS_DENIED),
    // crypt32.dll
    Fails("CertAddCertificateContextToStore", FALSE, ERROR_ACCESS_DENIED),
    Releases("CertCloseStore"),
    Fails("CertFindCertificateInStore", 0, static_cast<DWORD>(CRYPT_E_NOT_FOUND)),
    Releases("CertFreeCertificateContext"),
    Fails("CertGetCertificateContextProperty", FALSE, static_cast<DWORD>(CRYPT_E_NOT_FOUND)),
    Fails("CertOpenStore", 0, ERROR_ACCESS_DENIED),
    Fails("CertSetCertificateContextProperty", FALSE, ERROR_ACCESS_DENIED),
    // winscard.dll
    Returns("SCardEstablishContext", SCARD_E_NO_SERVICE),
    Returns("SCardForgetCardTypeW", SCARD_E_NO_SERVICE),
    Returns("SCardGetCardTypeProviderNameW", SCARD_E_UNKNOWN_CARD),
    Releases("SCardReleaseContext"),
    Returns("SCardSetCardTypeProviderNameW", SCARD_E_NO_SERVICE),
    // secur32.dll
    Returns("AddSecurityPackageW", static_cast<DWORD>(SEC_E_SECPKG_NOT_FOUND)),
};

}  // namespace

const FailureRule* FindFailureRule(const char* function) {
  for (const FailureRule& rule : kRules)
    if (strcmp(rule.function, function) == 0) return &rule;
  return nullptr;
}

}  // namespace kvca::run
