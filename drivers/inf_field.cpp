#include "drivers/inf_field.h"

#include <memory>
#include <new>

namespace kvca {

std::optional<std::wstring> ReadInfField(const INFCONTEXT& line, DWORD field) {
  INFCONTEXT context = line;
  DWORD required = 0;
  if (!SetupGetStringFieldW(&context, field, nullptr, 0, &required)) return std::nullopt;
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[required + 1]());
  if (!buffer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return std::nullopt;
  }
  if (!SetupGetStringFieldW(&context, field, buffer.get(), required, nullptr)) return std::nullopt;
  return std::wstring(buffer.get());
}

}  // namespace kvca
