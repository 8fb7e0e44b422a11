#include <gtest/gtest.h>

#include "frame/wide.h"

namespace {

using namespace kvca;

TEST(Wide, CutsAndSearches) {
  const std::wstring text = L"kvssl,kvssl.dll";
  EXPECT_EQ(L"kvs", Left(text, 3));
  EXPECT_EQ(text, Left(text, 99));
  EXPECT_EQ(L".dll", Right(text, 4));
  EXPECT_EQ(text, Right(text, 99));
  EXPECT_EQ(L"kvssl.dll", Mid(text, 6));
  EXPECT_EQ(L"", Mid(text, 99, 2));
  EXPECT_EQ(5, Find(text, L','));
  EXPECT_EQ(6, Find(text, L"kvssl", 1));
  EXPECT_EQ(-1, Find(text, L"KVSSL"));
  EXPECT_EQ(-1, Find(text, L'x', 3));
}

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
