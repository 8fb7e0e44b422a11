#include "readers/provider_data.h"

namespace kvca {

// Takes the text before the first separator and removes it with the separator;
// without a separator the field is empty and nothing is removed.
static std::wstring TakeField(std::wstring& rest) {
  size_t at = rest.find(kDataSeparator);
  if (at == std::wstring::npos) return std::wstring();
  std::wstring field = rest.substr(0, at);
  rest.erase(0, at + 1);
  return field;
}

ProviderData SplitProviderData(std::wstring data) {
  ProviderData fields;
  fields.carrier = TakeField(data);
  fields.media = TakeField(data);
  fields.level = TakeField(data);
  fields.module = TakeField(data);
  fields.imagePath = std::move(data);
  return fields;
}

std::wstring ProviderDataPrefix(const std::wstring& carrier, const std::wstring& media,
                                const std::wstring& level, const std::wstring& module) {
  std::wstring prefix;
  for (const std::wstring* field : {&carrier, &media, &level, &module}) {
    prefix += *field;
    prefix += kDataSeparator;
  }
  return prefix;
}

std::wstring ProviderName(const std::wstring& carrier, const std::wstring& level) {
  return L"Korvex " + carrier + L" KC" + level + L" CSP";
}

}  // namespace kvca
