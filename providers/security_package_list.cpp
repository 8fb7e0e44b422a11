#include "providers/security_package_list.h"

#include <cstring>

#include "frame/handles.h"

namespace kvca {

static const wchar_t kLsaKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
static const wchar_t kPackagesValue[] = L"Security Packages";

// Committed, zero-filled pages from VirtualAlloc, released by the owner.
struct VirtualBlockTraits {
  using Handle = void*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle h) noexcept { VirtualFree(h, 0, MEM_RELEASE); }
};
using VirtualBlock = Owned<VirtualBlockTraits>;

static VirtualBlock AllocateBlock(DWORD bytes) {
  return VirtualBlock(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

// Start of the first entry before `limit` that equals one of `names`, or -1.
// An entry starts at position 0 and after every NUL.
static long FindEntry(const wchar_t* list, long limit, std::initializer_list<const wchar_t*> names) {
  for (long at = 0; at < limit; ++at) {
    if (at > 0 && list[at - 1] != L'\0') continue;
    for (const wchar_t* name : names)
      if (lstrcmpW(list + at, name) == 0) return at;
  }
  return -1;
}

// Moves the entries that follow the one at `cut` in `saved` to where it began in
// `working` and ends the list there; returns the position of the final NUL.
// `saved` ends in zero padding, so the walk stops inside it.
static long CutEntry(const wchar_t* saved, wchar_t* working, long cut) {
  long from = cut + lstrlenW(saved + cut) + 1;
  long to = cut;
  while (saved[from] != L'\0') {
    const long size = lstrlenW(saved + from) + 1;
    std::memcpy(working + to, saved + from, size * sizeof(wchar_t));
    from += size;
    to += size;
  }
  working[to] = L'\0';
  return to;
}

// Writes `name` at the list's end with its NUL and a final NUL; returns the new end.
static long AppendEntry(wchar_t* working, long end, const wchar_t* name) {
  const long size = lstrlenW(name) + 1;
  std::memcpy(working + end, name, size * sizeof(wchar_t));
  working[end + size] = L'\0';
  return end + size;
}

LONG EditSecurityPackages(std::initializer_list<const wchar_t*> remove, const wchar_t* add) {
  RegKey key;
  LONG result = RegOpenKeyW(HKEY_LOCAL_MACHINE, kLsaKey, key.put());
  if (result != ERROR_SUCCESS) return result;

  DWORD type = 0;
  DWORD bytes = 0;
  result = RegQueryValueExW(key.get(), kPackagesValue, nullptr, &type, nullptr, &bytes);
  if (result != ERROR_SUCCESS) return result;

  // The saved copy keeps two NULs of padding; the working copy has room for the
  // longest name added with its NUL and the final NUL.
  VirtualBlock saved = AllocateBlock(bytes + 4);
  VirtualBlock working = AllocateBlock(bytes + (add != nullptr ? 20 : 10));
  if (!saved || !working) return ERROR_NOT_ENOUGH_MEMORY;
  result = RegQueryValueExW(key.get(), kPackagesValue, nullptr, &type,
                            static_cast<BYTE*>(saved.get()), &bytes);
  if (result != ERROR_SUCCESS) return result;
  std::memcpy(working.get(), saved.get(), bytes);

  const wchar_t* savedList = static_cast<const wchar_t*>(saved.get());
  wchar_t* list = static_cast<wchar_t*>(working.get());
  // n characters with every NUL; one character or none is the empty list.
  const long n = static_cast<long>(bytes / sizeof(wchar_t));
  long end = n > 1 ? n - 1 : 0;

  const long cut = FindEntry(savedList, end, remove);
  if (cut >= 0) end = CutEntry(savedList, list, cut);
  if (add != nullptr && FindEntry(list, end, {add}) < 0) end = AppendEntry(list, end, add);

  return RegSetValueExW(key.get(), kPackagesValue, 0, type, reinterpret_cast<const BYTE*>(list),
                        static_cast<DWORD>((end + 1) * sizeof(wchar_t)));
}

}  // namespace kvca
