#include <gtest/gtest.h>

#include "drivers/action_data.h"

namespace {

using namespace kvca;

struct ParseCase {
  const wchar_t* customActionData;
  const wchar_t* infPath;
  const wchar_t* componentId;
  DWORD flags;
  long progressTicks;
};

// \x0001 is the field separator; the fields are directory, INF file name,
// component ID, flags and progress ticks.
const ParseCase kCases[] = {
    // The long name of a "short|long" file name, appended to the directory.
    {L"C:\\Drivers\\\x0001" L"DRIVER~1.INF|driver.inf\x0001{5B1C2D3E-0000-4000-8000-000000000001}\x0001"
     L"32\x0001" L"3000000",
     L"C:\\Drivers\\driver.inf", L"{5B1C2D3E-0000-4000-8000-000000000001}", NoStart, 3000000},
    // A long name alone; a "|" in a later field is no divider; the ticks are field 5.
    {L"C:\\D\\\x0001kv.inf\x0001{A|B}\x0001" L"288\x0001" L"7", L"C:\\D\\kv.inf", L"{A|B}", NoStart | NoStop, 7},
    {L"C:\\D\\\x0001kv.inf\x0001{C}\x0001" L"0\x0001" L"3000000", L"C:\\D\\kv.inf", L"{C}", 0, 3000000},
    // Numbers by _wtol: leading blanks and a sign, up to the first non-digit.
    {L"C:\\D\\\x0001kv.inf\x0001{C}\x0001  +256x\x0001 -5", L"C:\\D\\kv.inf", L"{C}", NoStop, -5},
    // Fewer fields: what is missing reads as empty or 0.
    {L"C:\\D\\\x0001kv.inf", L"C:\\D\\kv.inf", L"", 0, 0},
    {L"C:\\D\\\x0001kv.inf\x0001{C}", L"C:\\D\\kv.inf", L"{C}", 0, 0},
    {L"", L"", L"", 0, 0},
};

TEST(DriverActionDataParse, SplitsTheFiveFields) {
  for (const ParseCase& row : kCases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(row.customActionData)));
    DriverActionData data;
    ASSERT_TRUE(SplitDriverActionData(row.customActionData, data));
    EXPECT_EQ(row.infPath, data.infPath);
    EXPECT_EQ(row.componentId, data.componentId);
    EXPECT_EQ(row.flags, data.flags);
    EXPECT_EQ(row.progressTicks, data.progressTicks);
  }
  // No installation to read the property from.
  DriverActionData data;
  EXPECT_FALSE(ParseDriverActionData(0, data));
}

}  // namespace
