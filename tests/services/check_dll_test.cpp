// CheckDll on a system where "secur32.dll" cannot be loaded: this program runs
// with WINEDLLOVERRIDES="secur32=d", which makes its load fail with 126.
#include <gtest/gtest.h>

#include "service_fixture.h"

extern "C" UINT __stdcall CheckDll(MSIHANDLE install);

namespace {

using namespace kvca::test;

class CheckDllWithoutSecur32 : public SessionTest {
 protected:
  CheckDllWithoutSecur32() { Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (6666, 'No [2]: [3]')"); }
};

// Whether "crypt32.dll" was tried after the failure cannot be seen here: Wine's
// msi.dll imports it, so it is loaded in every process that runs an installation.
TEST_F(CheckDllWithoutSecur32, ReportsTheLibraryAndReturnsItsLoadError) {
  MSIHANDLE install = Session();
  ASSERT_EQ(nullptr, GetModuleHandleW(L"winscard.dll"));
  ASSERT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"));

  EXPECT_EQ(static_cast<UINT>(ERROR_MOD_NOT_FOUND), CheckDll(install));
  ASSERT_EQ(1u, captured_.size());
  EXPECT_EQ(L"No [2]: [3]", Errors().at(0).Text(0)) << "field 0 was empty";
  EXPECT_EQ(L"6666|secur32.dll|126", FieldsText(captured_[0]));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"winscard.dll")) << "freed again";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll")) << "freed again";
}

}  // namespace
