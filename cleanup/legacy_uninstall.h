// Silent removal of an older product through its own uninstaller, with the
// system's pending file renames kept out of its way.
#pragma once

#include <windows.h>
#include <msi.h>

#include <memory>
#include <new>
#include <string>

namespace kvca {

extern const wchar_t kSessionManagerKey[];
extern const wchar_t kPendingRenamesValue[];

// Buffers whose allocation failure the actions report ("Out of memory", 14)
// instead of ending: null when there is no memory.
template <class T>
std::unique_ptr<T[]> TryAllocate(size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

// Runs `command` (program and arguments) silently with the package's response
// file uninstall.<namePart>.iss and reads the result from the uninstaller's log.
// Returns 0 or the code of the first failure, after the pending renames saved
// before the run have been written back.
UINT Uninstall2(MSIHANDLE install, const wchar_t* command, const wchar_t* namePart);

// Starts the command line, waits for it to end and logs its exit code, which
// does not decide success. Returns 0 or 1603.
UINT RunUninstall(MSIHANDLE install, std::wstring commandLine);

// 0 when the uninstaller's log says "ResultCode=0"; NTE_FAIL for another
// number; an error code when the log cannot be read or holds no number.
DWORD GetResultCode(MSIHANDLE install, const wchar_t* logPath);

// Reads the pending renames as every entry followed by its NUL, without the
// closing empty string (entries A, B read as "A\0B\0"). 0; ERROR_FILE_NOT_FOUND
// when absent; ERROR_INVALID_DATA for another type or a malformed value of two
// characters or more; other registry errors as returned. A value of zero or one
// character reads as the empty text.
LONG ReadPendingRenames(HKEY key, std::wstring& entries);

// Writes `saved` back under the Session Manager key, followed by whatever was
// added to the value meanwhile, every pair of either list kept whole: empty
// entries at the end of a list are dropped but for one that completes a
// delete, and the last source of a list with an odd number of entries goes to
// the end. Returns 0 or an error code; when the key does
// not open or the value cannot be written, every saved entry is in the
// installer log.
DWORD RevertReg(MSIHANDLE install, const wchar_t* keyPath, const std::wstring& saved);

// RevertReg for an action that ends before RevertReg ran (out of memory on the
// way): no message, no failure, and the entries added meanwhile only when
// there is memory to merge them.
void PutBackPendingRenames(const std::wstring& saved) noexcept;

}  // namespace kvca
