#include <gtest/gtest.h>

#include "drivers/action_data.h"
#include "support/session.h"

namespace {

using namespace kvca;
using kvca::test::SessionTest;

class DriverActionDataParse : public SessionTest {
 protected:
  DriverActionData Parse(const std::wstring& text) {
    SetProperty(L"CustomActionData", text);
    DriverActionData data;
    EXPECT_TRUE(ParseDriverActionData(Session(), data)) << "parse of a readable property";
    return data;
  }
};

TEST_F(DriverActionDataParse, SplitsTheFiveFields) {
  DriverActionData data = Parse(L"C:\\Drivers\\\x0001" L"DRIVER~1.INF|driver.inf\x0001"
                                L"{5B1C2D3E-0000-4000-8000-000000000001}\x0001" L"32\x0001" L"3000000");
  EXPECT_EQ(L"C:\\Drivers\\driver.inf", data.infPath);
  EXPECT_EQ(L"{5B1C2D3E-0000-4000-8000-000000000001}", data.componentId);
  EXPECT_EQ(static_cast<DWORD>(NoStart), data.flags);
  EXPECT_EQ(3000000, data.progressTicks);

  // A long name alone; a "|" in a later field is no divider.
  data = Parse(L"C:\\D\\\x0001" L"kv.inf\x0001" L"{A|B}\x0001" L"288\x0001" L"7");
  EXPECT_EQ(L"C:\\D\\kv.inf", data.infPath);
  EXPECT_EQ(L"{A|B}", data.componentId);
  EXPECT_EQ(static_cast<DWORD>(NoStart | NoStop), data.flags);
  EXPECT_EQ(7, data.progressTicks);

  data = Parse(L"C:\\D\\\x0001" L"kv.inf\x0001" L"{C}\x0001" L"0\x0001" L"3000000");
  EXPECT_EQ(0u, data.flags);

  // Fewer fields: what is missing reads as empty or 0.
  data = Parse(L"C:\\D\\\x0001" L"kv.inf");
  EXPECT_EQ(L"C:\\D\\kv.inf", data.infPath);
  EXPECT_EQ(L"", data.componentId);
  EXPECT_EQ(0u, data.flags);
  EXPECT_EQ(0, data.progressTicks);
  data = Parse(L"");
  EXPECT_EQ(L"", data.infPath);
}

TEST_F(DriverActionDataParse, FailsWhenThePropertyCannotBeRead) {
  DriverActionData data;
  EXPECT_FALSE(ParseDriverActionData(0, data));
}

}  // namespace
