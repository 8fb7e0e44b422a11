// The LSA's list of security packages to load at boot: the multi-string
// "Security Packages" under HKLM\SYSTEM\CurrentControlSet\Control\Lsa.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace kvca {

// Removes the first entry that equals one of `remove` (one entry in all) and
// appends `add` unless it is already an entry (`add` may be null: nothing is
// added). Entries compare as lstrcmpW does. The value is written back with the
// type that was read, also when nothing changed; a missing value is never
// created. Result: 0, the registry error of the failing call, or 8 when memory
// cannot be had; the value is left as it was on every failure before the write.
LONG EditSecurityPackages(std::initializer_list<const wchar_t*> remove, const wchar_t* add);

}  // namespace kvca
