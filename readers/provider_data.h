// The CustomActionData of one provider registration: carrier name, media code,
// KC level, module name and module path, joined by U+0001.
#pragma once

#include <string>

#include "frame/installer.h"

namespace kvca {

struct ProviderData {
  std::wstring carrier;
  std::wstring media;
  std::wstring level;
  std::wstring module;
  std::wstring imagePath;  // everything after the fourth separator
};

ProviderData SplitProviderData(std::wstring data);

// The four leading fields, each followed by the separator; the module path is
// appended directly.
std::wstring ProviderDataPrefix(const std::wstring& carrier, const std::wstring& media,
                                const std::wstring& level, const std::wstring& module);

// "Korvex <carrier> KC<level> CSP"
std::wstring ProviderName(const std::wstring& carrier, const std::wstring& level);

}  // namespace kvca
