// Reading one field of an INF line, shared by every INF reader of the driver code.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>

namespace kvca {

// Size first, then a buffer of that size. A field that cannot be read gives
// none with SetupAPI's last error; a buffer that cannot be allocated gives
// none with ERROR_NOT_ENOUGH_MEMORY. An empty field reads as "".
std::optional<std::wstring> ReadInfField(const INFCONTEXT& line, DWORD field);

}  // namespace kvca
