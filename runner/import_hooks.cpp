#include "runner/import_hooks.h"

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "runner/failure_table.h"
#include "runner/handle_ledger.h"
#include "runner/records.h"

namespace kvca::run {

// One replaced function. `failResult` comes first: the dispatcher reads it at
// offset 0. `code` is the thunk the import address table points to.
struct Import {
  ULONG_PTR failResult;
  const FailureRule* rule;
  const char* name;
  void* forward;  // the function itself, or a handle hook that calls it
  void* failure;  // what a failed call does instead of returning failResult, if anything
  unsigned char code[24];
};

extern "C" void* KvcaRunDecide(Import* import);
extern "C" void KvcaRunDispatch();

// The thunk of every import is
//     mov r10, <its Import>;  mov r11, KvcaRunDispatch;  jmp r11
// and the dispatcher asks KvcaRunDecide where the call goes: to the function
// (or its handle hook), entered by a jump so that it sees the call exactly as
// the DLL made it, or nowhere, returning the failure result (or, for a
// function that releases a handle it is given even when it fails, to a
// stand-in that does that and returns the failure).
//
// What this relies on, from the x64 calling convention of Windows: the first
// four arguments are in rcx, rdx, r8, r9 (xmm0-xmm3 when floating point), the
// rest on the stack above the caller's 32-byte shadow space; the caller removes
// its arguments, so a plain `ret` ends any function; r10 and r11 are volatile
// and carry no argument; the stack is 16-byte aligned at every call, so a
// function is entered with rsp = 8 (mod 16); the result is in rax.
asm(R"(
    .text
    .globl KvcaRunDispatch
KvcaRunDispatch:
    .intel_syntax noprefix
    push rcx
    push rdx
    push r8
    push r9
    push r10
    sub rsp, 0x60
    movdqa [rsp + 0x20], xmm0
    movdqa [rsp + 0x30], xmm1
    movdqa [rsp + 0x40], xmm2
    movdqa [rsp + 0x50], xmm3
    mov rcx, r10
    call KvcaRunDecide
    movdqa xmm0, [rsp + 0x20]
    movdqa xmm1, [rsp + 0x30]
    movdqa xmm2, [rsp + 0x40]
    movdqa xmm3, [rsp + 0x50]
    add rsp, 0x60
    pop r10
    pop r9
    pop r8
    pop rdx
    pop rcx
    test rax, rax
    jz 1f
    jmp rax
1:
    mov rax, [r10]
    ret
    .att_syntax prefix
)");

namespace {

struct Counting {
  bool on = false;
  DWORD thread = 0;
  unsigned calls = 0;
  unsigned callsOfFunction = 0;  // of injection.failFunction
  bool afterSeen = false;        // injection.failAfter was called
  FaultInjection injection;
  const BYTE* importSectionStart = nullptr;
  const BYTE* importSectionEnd = nullptr;
} counting;

bool Counts() { return counting.on && GetCurrentThreadId() == counting.thread; }

std::wstring Wide(const char* text) { return std::wstring(text, text + strlen(text)); }

// Counts one call of `name`; true when it is the one to fail, which is then
// reported on its own line with the error it gives (the last-error value,
// already set, or the code returned): "fail: RegOpenKeyExW (call 7, error 5)",
// without the call's number when the call was chosen by its function's name.
bool FailsNow(const char* name, const FailureRule& rule) {
  if (!Counts() || rule.kind != FailureKind::kFails) return false;
  ++counting.calls;
  const FaultInjection& injection = counting.injection;
  if (injection.trace) PrintLine(L"call " + std::to_wstring(counting.calls) + L": " + Wide(name));
  const bool counted = injection.failAfter.empty() || counting.afterSeen;
  if (injection.failAfter == name) counting.afterSeen = true;
  if (injection.failFunction.empty() ? counting.calls != injection.failCall
                                     : !counted || injection.failFunction != name ||
                                           ++counting.callsOfFunction != injection.failCall)
    return false;
  const DWORD error = rule.lastError != kKeepsLastError ? rule.lastError : static_cast<DWORD>(rule.result);
  const std::wstring number =
      injection.failFunction.empty() ? L"call " + std::to_wstring(counting.calls) + L", " : L"";
  PrintLine(L"fail: " + Wide(name) + L" (" + number + L"error " + std::to_wstring(error) + L")");
  if (rule.lastError != kKeepsLastError) SetLastError(rule.lastError);
  return true;
}

// Executable memory for the imports and their thunks; never freed.
Import* NewImport() {
  static BYTE* arena = nullptr;
  static size_t used = 0;
  constexpr size_t kArenaSize = 1 << 16;
  if (arena == nullptr || used + sizeof(Import) > kArenaSize) {
    arena = static_cast<BYTE*>(
        VirtualAlloc(nullptr, kArenaSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    used = 0;
    if (arena == nullptr) return nullptr;
  }
  Import* import = reinterpret_cast<Import*>(arena + used);
  used += (sizeof(Import) + 15) & ~size_t{15};
  return import;
}

void* Thunk(const char* name, const FailureRule& rule, void* forward, void* failure) {
  Import* import = NewImport();
  if (import == nullptr) return nullptr;
  import->failResult = rule.result;
  import->rule = &rule;
  import->name = name;
  import->forward = forward;
  import->failure = failure;
  const ULONG_PTR self = reinterpret_cast<ULONG_PTR>(import);
  const ULONG_PTR dispatch = reinterpret_cast<ULONG_PTR>(&KvcaRunDispatch);
  unsigned char* code = import->code;
  code[0] = 0x49, code[1] = 0xBA;  // mov r10, imm64
  memcpy(code + 2, &self, 8);
  code[10] = 0x49, code[11] = 0xBB;  // mov r11, imm64
  memcpy(code + 12, &dispatch, 8);
  code[20] = 0x41, code[21] = 0xFF, code[22] = 0xE3;  // jmp r11
  FlushInstructionCache(GetCurrentProcess(), code, sizeof import->code);
  return code;
}

bool LoadFails(const std::wstring& library) {
  if (!Counts()) return false;
  const size_t slash = library.find_last_of(L"\\/");
  const std::wstring file = slash == std::wstring::npos ? library : library.substr(slash + 1);
  for (const std::wstring& failed : counting.injection.failedLoads)
    if (lstrcmpiW(file.c_str(), failed.c_str()) == 0) return true;
  return false;
}

decltype(&LoadLibraryW) realLoadLibraryW;
decltype(&LoadLibraryA) realLoadLibraryA;
decltype(&GetProcAddress) realGetProcAddress;

HMODULE WINAPI HookLoadLibraryW(LPCWSTR name) {
  if (name && LoadFails(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return realLoadLibraryW(name);
}

// Only the delay-load helper calls LoadLibraryA, to load a library on the
// first call into it; its calls are not counted.
HMODULE WINAPI HookLoadLibraryA(LPCSTR name) {
  if (name && LoadFails(Wide(name))) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return realLoadLibraryA(name);
}

decltype(&LoadLibraryExW) realLoadLibraryExW;

// kvca.dll loads the system libraries from the system folder, for its own
// check and for the delay-load helper alike; these loads are not counted.
HMODULE WINAPI HookLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  if (name && LoadFails(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return realLoadLibraryExW(name, file, flags);
}

void* Replacement(const char* name, void* real);

// The delay-load helper looks functions up by the names of the DLL's own import
// section; the DLL's code by names of its read-only data. Only the latter
// counts as a call of the export. Either way the function found is handed out
// behind its thunk.
FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name) {
  const BYTE* where = reinterpret_cast<const BYTE*>(name);
  const bool byHelper = where >= counting.importSectionStart && where < counting.importSectionEnd;
  if (!byHelper && FailsNow("GetProcAddress", *FindFailureRule("GetProcAddress"))) return nullptr;
  const FARPROC address = realGetProcAddress(module, name);
  if (address == nullptr || IS_INTRESOURCE(name)) return address;
  void* replacement = Replacement(name, reinterpret_cast<void*>(address));
  return replacement ? reinterpret_cast<FARPROC>(replacement) : address;
}

// What goes into an import address table entry in place of `real`; nullptr
// when the entry stays as it is.
void* Replacement(const char* name, void* real) {
  static std::map<void*, void*> made;
  static std::set<std::string> unlisted;
  const auto known = made.find(real);
  if (known != made.end()) return known->second;

  const FailureRule* rule = FindFailureRule(name);
  if (rule == nullptr) {
    if (unlisted.insert(name).second)
      PrintLine(L"unlisted import: " + Wide(name));
    return nullptr;
  }
  void* forward = real;
  void* failure = nullptr;
  void* direct = nullptr;  // a hook that takes the call itself, without a thunk
  if (strcmp(name, "LoadLibraryW") == 0) {
    realLoadLibraryW = reinterpret_cast<decltype(realLoadLibraryW)>(real);
    forward = reinterpret_cast<void*>(&HookLoadLibraryW);
  } else if (strcmp(name, "LoadLibraryExW") == 0) {
    realLoadLibraryExW = reinterpret_cast<decltype(realLoadLibraryExW)>(real);
    direct = reinterpret_cast<void*>(&HookLoadLibraryExW);
  } else if (strcmp(name, "LoadLibraryA") == 0) {
    realLoadLibraryA = reinterpret_cast<decltype(realLoadLibraryA)>(real);
    direct = reinterpret_cast<void*>(&HookLoadLibraryA);
  } else if (strcmp(name, "GetProcAddress") == 0) {
    realGetProcAddress = reinterpret_cast<decltype(realGetProcAddress)>(real);
    direct = reinterpret_cast<void*>(&HookGetProcAddress);
  } else if (const HandleHook* hook = FindHandleHook(name)) {
    *hook->real = real;
    forward = hook->hook;
    failure = hook->failure;
  }
  void* replacement = direct;
  if (replacement == nullptr)
    replacement = rule->kind == FailureKind::kFails ? Thunk(name, *rule, forward, failure)
                                                    : (forward != real ? forward : nullptr);
  made[real] = replacement;
  return replacement;
}

void WriteEntry(ULONG_PTR* entry, void* value) {
  DWORD protection = 0;
  VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection);
  *entry = reinterpret_cast<ULONG_PTR>(value);
  VirtualProtect(entry, sizeof *entry, protection, &protection);
}

}  // namespace

extern "C" void* KvcaRunDecide(Import* import) {
  if (!FailsNow(import->name, *import->rule)) return import->forward;
  return import->failure;  // nullptr: the dispatcher returns failResult
}

void HookImports(HMODULE module, const FaultInjection& injection) {
  counting.injection = injection;
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return;

  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
    if (directory.VirtualAddress >= section->VirtualAddress &&
        directory.VirtualAddress < section->VirtualAddress + section->Misc.VirtualSize) {
      counting.importSectionStart = base + section->VirtualAddress;
      counting.importSectionEnd = counting.importSectionStart + section->Misc.VirtualSize;
    }

  for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       library->Name != 0; ++library) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + library->OriginalFirstThunk);
    auto* entries = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++entries) {
      if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      void* replacement = Replacement(reinterpret_cast<const char*>(byName->Name),
                                      reinterpret_cast<void*>(entries->u1.Function));
      if (replacement) WriteEntry(&entries->u1.Function, replacement);
    }
  }
}

void StartCounting() {
  counting.calls = 0;
  counting.callsOfFunction = 0;
  counting.afterSeen = false;
  counting.thread = GetCurrentThreadId();
  counting.on = true;
  NoteHandles(true);
}

unsigned StopCounting() {
  counting.on = false;
  NoteHandles(false);
  return counting.calls;
}

}  // namespace kvca::run
