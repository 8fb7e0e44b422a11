#include <gtest/gtest.h>

#include <string>

#include "frame/action.h"

namespace {

TEST(ActionGuard, WideStringFailuresEndTheActionWith1603) {
  bool ranPastFailure = false;
  UINT result = kvca::RunAction([&]() -> UINT {
    std::wstring text(4, L'x');
    text.reserve(text.max_size() + 1);  // length_error
    ranPastFailure = true;
    return ERROR_SUCCESS;
  });
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), result);
  EXPECT_FALSE(ranPastFailure);

  result = kvca::RunAction([&]() -> UINT {
    std::wstring text(static_cast<size_t>(1) << 46, L'x');  // cannot get the memory
    ranPastFailure = true;
    return static_cast<UINT>(text.size());
  });
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), result);
  EXPECT_FALSE(ranPastFailure);

  EXPECT_EQ(1234u, kvca::RunAction([] { return 1234u; }));
}

}  // namespace
