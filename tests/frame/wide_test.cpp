#include <gtest/gtest.h>

#include "frame/wide.h"

namespace {

using namespace kvca;

TEST(Wide, ReplaceAllCountsAndNeverSearchesAReplacement) {
  const struct {
    const wchar_t *text, *from, *to;
    int count;
    const wchar_t* after;
  } cases[] = {
      {L"aXbXXc", L"X", L"XX", 3, L"aXXbXXXXc"},
      {L"a, kvssp.dll, kvssp.dll", L", kvssp.dll", L"", 2, L"a"},
      {L"abc", L"", L"y", 0, L"abc"},
      {L"abc", L"B", L"y", 0, L"abc"},
  };
  for (const auto& each : cases) {
    std::wstring text = each.text;
    EXPECT_EQ(each.count, ReplaceAll(text, each.from, each.to)) << each.text;
    EXPECT_EQ(each.after, text) << each.text;
  }
}

TEST(Wide, EqualsNoCaseIgnoresCaseOnly) {
  EXPECT_TRUE(EqualsNoCase(L"SChannel", L"schannel"));
  EXPECT_FALSE(EqualsNoCase(L"schannel", L"schannel "));
  EXPECT_FALSE(EqualsNoCase(L"", L"a"));
}

TEST(Wide, FormatsByMicrosoftRules) {
  EXPECT_EQ(L"KSInstall64:error 0x1F: oem.inf.\n", Format(L"KSInstall64:error 0x%X: %s.\n", 31u, L"oem.inf"));
  EXPECT_EQ(L"(null)", Format(L"%s", static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(std::wstring(600, L'a'), Format(L"%s", std::wstring(600, L'a').c_str()));
}

TEST(Wide, FromAnsiTakesTheWholeTextOrNothing) {
  EXPECT_EQ(L"abc", FromAnsi("abc"));
  EXPECT_EQ(L"", FromAnsi(nullptr));
  EXPECT_EQ(L"ab", FromAnsi("abc", 2));
}

}  // namespace
