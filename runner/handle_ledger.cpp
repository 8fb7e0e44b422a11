#include "runner/handle_ledger.h"

#include <setupapi.h>
#include <wincrypt.h>
#include <winscard.h>
#include <winternl.h>

#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace kvca::run {
namespace {

// Each closing function closes the handles of one space; the ledger keys a
// handle by its space and value, and remembers the function that opened it.
enum class Space { kKernel, kRegistry, kService, kFind, kInf, kFileQueue, kStore, kCertificate,
                   kSmartCard, kProvider };

bool noting = false;
std::map<std::pair<Space, ULONG_PTR>, const char*> open;
size_t runtimeHandles = 0;

template <class Handle>
void Opened(Space space, Handle handle, const char* function) {
  if (noting) open[{space, (ULONG_PTR)handle}] = function;
}
template <class Handle>
void Closed(Space space, Handle handle) {
  open.erase({space, (ULONG_PTR)handle});
}

// The real functions, set when kvca-run puts the hooks in place.
decltype(&RegOpenKeyExW) realRegOpenKeyExW;
decltype(&RegOpenKeyW) realRegOpenKeyW;
decltype(&RegCreateKeyExW) realRegCreateKeyExW;
decltype(&RegCloseKey) realRegCloseKey;
decltype(&OpenSCManagerW) realOpenSCManagerW;
decltype(&OpenServiceW) realOpenServiceW;
decltype(&CreateServiceW) realCreateServiceW;
decltype(&CloseServiceHandle) realCloseServiceHandle;
decltype(&CreateSemaphoreW) realCreateSemaphoreW;
decltype(&CreateFileW) realCreateFileW;
decltype(&CreateProcessW) realCreateProcessW;
decltype(&CloseHandle) realCloseHandle;
decltype(&FindFirstFileW) realFindFirstFileW;
decltype(&FindClose) realFindClose;
decltype(&SetupOpenInfFileW) realSetupOpenInfFileW;
decltype(&SetupCloseInfFile) realSetupCloseInfFile;
decltype(&SetupOpenFileQueue) realSetupOpenFileQueue;
decltype(&SetupCloseFileQueue) realSetupCloseFileQueue;
decltype(&CertOpenStore) realCertOpenStore;
decltype(&CertCloseStore) realCertCloseStore;
decltype(&CertFindCertificateInStore) realCertFindCertificateInStore;
decltype(&CertAddCertificateContextToStore) realCertAddCertificateContextToStore;
decltype(&CertFreeCertificateContext) realCertFreeCertificateContext;
decltype(&SCardEstablishContext) realSCardEstablishContext;
decltype(&SCardReleaseContext) realSCardReleaseContext;
decltype(&CryptAcquireContextW) realCryptAcquireContextW;
decltype(&CryptReleaseContext) realCryptReleaseContext;

LSTATUS WINAPI HookRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  const LSTATUS status = realRegOpenKeyExW(key, subKey, options, access, result);
  if (status == ERROR_SUCCESS) Opened(Space::kRegistry, *result, "RegOpenKeyExW");
  return status;
}
LSTATUS WINAPI HookRegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
  const LSTATUS status = realRegOpenKeyW(key, subKey, result);
  if (status == ERROR_SUCCESS) Opened(Space::kRegistry, *result, "RegOpenKeyW");
  return status;
}
LSTATUS WINAPI HookRegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                   DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                   PHKEY result, LPDWORD disposition) {
  const LSTATUS status = realRegCreateKeyExW(key, subKey, reserved, keyClass, options, access,
                                             security, result, disposition);
  if (status == ERROR_SUCCESS) Opened(Space::kRegistry, *result, "RegCreateKeyExW");
  return status;
}
LSTATUS WINAPI HookRegCloseKey(HKEY key) {
  Closed(Space::kRegistry, key);
  return realRegCloseKey(key);
}

SC_HANDLE WINAPI HookOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
  const SC_HANDLE handle = realOpenSCManagerW(machine, database, access);
  if (handle) Opened(Space::kService, handle, "OpenSCManagerW");
  return handle;
}
SC_HANDLE WINAPI HookOpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access) {
  const SC_HANDLE handle = realOpenServiceW(manager, name, access);
  if (handle) Opened(Space::kService, handle, "OpenServiceW");
  return handle;
}
SC_HANDLE WINAPI HookCreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName,
                                    DWORD access, DWORD type, DWORD start, DWORD errorControl,
                                    LPCWSTR image, LPCWSTR group, LPDWORD tag, LPCWSTR dependencies,
                                    LPCWSTR account, LPCWSTR password) {
  const SC_HANDLE handle = realCreateServiceW(manager, name, displayName, access, type, start,
                                             errorControl, image, group, tag, dependencies, account,
                                             password);
  if (handle) Opened(Space::kService, handle, "CreateServiceW");
  return handle;
}
BOOL WINAPI HookCloseServiceHandle(SC_HANDLE handle) {
  Closed(Space::kService, handle);
  return realCloseServiceHandle(handle);
}

// The statically linked C++ runtime makes the semaphore of a lock on its first
// use (the first exception thrown, for one) and keeps it for the life of the
// process.
HANDLE WINAPI HookCreateSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                                   LPCWSTR name) {
  const HANDLE handle = realCreateSemaphoreW(security, initial, maximum, name);
  if (handle && noting) ++runtimeHandles;
  return handle;
}

HANDLE WINAPI HookCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
  const HANDLE handle = realCreateFileW(name, access, share, security, disposition, flags, templateFile);
  if (handle != INVALID_HANDLE_VALUE) Opened(Space::kKernel, handle, "CreateFileW");
  return handle;
}
BOOL WINAPI HookCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                               LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  const BOOL created = realCreateProcessW(application, commandLine, process, thread, inherit, flags,
                                          environment, folder, startup, information);
  if (created) {
    Opened(Space::kKernel, information->hProcess, "CreateProcessW (process)");
    Opened(Space::kKernel, information->hThread, "CreateProcessW (thread)");
  }
  return created;
}
BOOL WINAPI HookCloseHandle(HANDLE handle) {
  Closed(Space::kKernel, handle);
  return realCloseHandle(handle);
}
HANDLE WINAPI HookFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  const HANDLE handle = realFindFirstFileW(pattern, data);
  if (handle != INVALID_HANDLE_VALUE) Opened(Space::kFind, handle, "FindFirstFileW");
  return handle;
}
BOOL WINAPI HookFindClose(HANDLE handle) {
  Closed(Space::kFind, handle);
  return realFindClose(handle);
}

HINF WINAPI HookSetupOpenInfFileW(PCWSTR name, PCWSTR infClass, DWORD style, PUINT errorLine) {
  const HINF inf = realSetupOpenInfFileW(name, infClass, style, errorLine);
  if (inf != INVALID_HANDLE_VALUE) Opened(Space::kInf, inf, "SetupOpenInfFileW");
  return inf;
}
void WINAPI HookSetupCloseInfFile(HINF inf) {
  Closed(Space::kInf, inf);
  realSetupCloseInfFile(inf);
}
HSPFILEQ WINAPI HookSetupOpenFileQueue() {
  const HSPFILEQ queue = realSetupOpenFileQueue();
  if (queue != INVALID_HANDLE_VALUE) Opened(Space::kFileQueue, queue, "SetupOpenFileQueue");
  return queue;
}
BOOL WINAPI HookSetupCloseFileQueue(HSPFILEQ queue) {
  Closed(Space::kFileQueue, queue);
  return realSetupCloseFileQueue(queue);
}

HCERTSTORE WINAPI HookCertOpenStore(LPCSTR provider, DWORD encoding, HCRYPTPROV_LEGACY cryptProvider,
                                    DWORD flags, const void* parameter) {
  const HCERTSTORE store = realCertOpenStore(provider, encoding, cryptProvider, flags, parameter);
  if (store) Opened(Space::kStore, store, "CertOpenStore");
  return store;
}
BOOL WINAPI HookCertCloseStore(HCERTSTORE store, DWORD flags) {
  Closed(Space::kStore, store);
  return realCertCloseStore(store, flags);
}
// A previous certificate handed in is freed by the search, found or not.
PCCERT_CONTEXT WINAPI HookCertFindCertificateInStore(HCERTSTORE store, DWORD encoding, DWORD flags,
                                                     DWORD type, const void* parameter,
                                                     PCCERT_CONTEXT previous) {
  if (previous) Closed(Space::kCertificate, previous);
  const PCCERT_CONTEXT found =
      realCertFindCertificateInStore(store, encoding, flags, type, parameter, previous);
  if (found) Opened(Space::kCertificate, found, "CertFindCertificateInStore");
  return found;
}
// A search that fails still frees the certificate it was to continue from.
PCCERT_CONTEXT WINAPI FailCertFindCertificateInStore(HCERTSTORE, DWORD, DWORD, DWORD, const void*,
                                                     PCCERT_CONTEXT previous) {
  if (previous) {
    Closed(Space::kCertificate, previous);
    const FARPROC address = GetProcAddress(GetModuleHandleW(L"crypt32.dll"), "CertFreeCertificateContext");
    const auto freeCertificate =
        reinterpret_cast<decltype(&CertFreeCertificateContext)>(reinterpret_cast<void*>(address));
    const DWORD error = GetLastError();
    if (freeCertificate) freeCertificate(previous);
    SetLastError(error);
  }
  return nullptr;
}

BOOL WINAPI HookCertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT certificate,
                                                 DWORD disposition, PCCERT_CONTEXT* added) {
  const BOOL done = realCertAddCertificateContextToStore(store, certificate, disposition, added);
  if (done && added && *added) Opened(Space::kCertificate, *added, "CertAddCertificateContextToStore");
  return done;
}
BOOL WINAPI HookCertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  if (certificate) Closed(Space::kCertificate, certificate);
  return realCertFreeCertificateContext(certificate);
}

LONG WINAPI HookSCardEstablishContext(DWORD scope, LPCVOID reserved1, LPCVOID reserved2,
                                      LPSCARDCONTEXT context) {
  const LONG result = realSCardEstablishContext(scope, reserved1, reserved2, context);
  if (result == SCARD_S_SUCCESS) Opened(Space::kSmartCard, *context, "SCardEstablishContext");
  return result;
}
LONG WINAPI HookSCardReleaseContext(SCARDCONTEXT context) {
  Closed(Space::kSmartCard, context);
  return realSCardReleaseContext(context);
}

BOOL WINAPI HookCryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR name, DWORD type,
                                     DWORD flags) {
  const BOOL acquired = realCryptAcquireContextW(provider, container, name, type, flags);
  if (acquired) Opened(Space::kProvider, *provider, "CryptAcquireContextW");
  return acquired;
}
BOOL WINAPI HookCryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
  Closed(Space::kProvider, provider);
  return realCryptReleaseContext(provider, flags);
}

template <class Function>
HandleHook Hook(const char* function, Function hook, Function* real, Function failure = nullptr) {
  return {function, reinterpret_cast<void*>(hook), reinterpret_cast<void**>(real),
          reinterpret_cast<void*>(failure)};
}

const HandleHook kHooks[] = {
    Hook("RegOpenKeyExW", &HookRegOpenKeyExW, &realRegOpenKeyExW),
    Hook("RegOpenKeyW", &HookRegOpenKeyW, &realRegOpenKeyW),
    Hook("RegCreateKeyExW", &HookRegCreateKeyExW, &realRegCreateKeyExW),
    Hook("RegCloseKey", &HookRegCloseKey, &realRegCloseKey),
    Hook("OpenSCManagerW", &HookOpenSCManagerW, &realOpenSCManagerW),
    Hook("OpenServiceW", &HookOpenServiceW, &realOpenServiceW),
    Hook("CreateServiceW", &HookCreateServiceW, &realCreateServiceW),
    Hook("CloseServiceHandle", &HookCloseServiceHandle, &realCloseServiceHandle),
    Hook("CreateSemaphoreW", &HookCreateSemaphoreW, &realCreateSemaphoreW),
    Hook("CreateFileW", &HookCreateFileW, &realCreateFileW),
    Hook("CreateProcessW", &HookCreateProcessW, &realCreateProcessW),
    Hook("CloseHandle", &HookCloseHandle, &realCloseHandle),
    Hook("FindFirstFileW", &HookFindFirstFileW, &realFindFirstFileW),
    Hook("FindClose", &HookFindClose, &realFindClose),
    Hook("SetupOpenInfFileW", &HookSetupOpenInfFileW, &realSetupOpenInfFileW),
    Hook("SetupCloseInfFile", &HookSetupCloseInfFile, &realSetupCloseInfFile),
    Hook("SetupOpenFileQueue", &HookSetupOpenFileQueue, &realSetupOpenFileQueue),
    Hook("SetupCloseFileQueue", &HookSetupCloseFileQueue, &realSetupCloseFileQueue),
    Hook("CertOpenStore", &HookCertOpenStore, &realCertOpenStore),
    Hook("CertCloseStore", &HookCertCloseStore, &realCertCloseStore),
    Hook("CertFindCertificateInStore", &HookCertFindCertificateInStore, &realCertFindCertificateInStore,
         &FailCertFindCertificateInStore),
    Hook("CertAddCertificateContextToStore", &HookCertAddCertificateContextToStore,
         &realCertAddCertificateContextToStore),
    Hook("CertFreeCertificateContext", &HookCertFreeCertificateContext, &realCertFreeCertificateContext),
    Hook("SCardEstablishContext", &HookSCardEstablishContext, &realSCardEstablishContext),
    Hook("SCardReleaseContext", &HookSCardReleaseContext, &realSCardReleaseContext),
    Hook("CryptAcquireContextW", &HookCryptAcquireContextW, &realCryptAcquireContextW),
    Hook("CryptReleaseContext", &HookCryptReleaseContext, &realCryptReleaseContext),
};

// SystemExtendedHandleInformation: every handle of every process, with the
// owner's id as a full pointer-sized value.
constexpr ULONG kSystemExtendedHandleInformation = 64;
struct HandleEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG access;
  USHORT backTraceIndex;
  USHORT typeIndex;
  ULONG attributes;
  ULONG reserved;
};
struct HandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

}  // namespace

const HandleHook* FindHandleHook(const char* function) {
  for (const HandleHook& hook : kHooks)
    if (strcmp(hook.function, function) == 0) return &hook;
  return nullptr;
}

void NoteHandles(bool on) { noting = on; }

std::wstring OpenHandles() {
  std::map<std::string, int> byFunction;
  for (const auto& handle : open) ++byFunction[handle.second];
  if (byFunction.empty()) return L"none";
  std::wstring text;
  for (const auto& counted : byFunction)
    text += (text.empty() ? L"" : L", ") + std::wstring(counted.first.begin(), counted.first.end()) +
            L" " + std::to_wstring(counted.second);
  return text;
}

size_t RuntimeHandles() { return runtimeHandles; }

size_t ProcessHandleCount() {
  std::vector<BYTE> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status =
        NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemExtendedHandleInformation),
                                 buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status < 0) return 0;
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    size_t count = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i)
      if (list->entries[i].processId == GetCurrentProcessId()) ++count;
    return count;
  }
}

}  // namespace kvca::run
