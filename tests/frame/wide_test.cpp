#include <gtest/gtest.h>

#include "frame/wide.h"

namespace {

using namespace kvca;

TEST(Wide, ReplacesEveryOccurrenceAndCounts) {
  std::wstring text = L"aXbXXc";
  EXPECT_EQ(3, ReplaceAll(text, L"X", L"XX"));  // a replacement is not searched again
  EXPECT_EQ(L"aXXbXXXXc", text);
  EXPECT_EQ(0, ReplaceAll(text, L"", L"y"));
  EXPECT_TRUE(EqualsNoCase(L"SChannel", L"schannel"));
  EXPECT_FALSE(EqualsNoCase(L"schannel", L"schannel "));
}

TEST(Wide, FormatsByMicrosoftRules) {
  EXPECT_EQ(L"KSInstall64:error 0x1F: oem.inf.\n",
            Format(L"KSInstall64:error 0x%X: %s.\n", 31u, L"oem.inf"));
  EXPECT_EQ(L"(null)", Format(L"%s", static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(std::wstring(600, L'a'), Format(L"%s", std::wstring(600, L'a').c_str()));
  EXPECT_EQ(L"abc", FromAnsi("abc"));
  EXPECT_EQ(L"", FromAnsi(nullptr));
}

}  // namespace
