// MsiCreateService and its rollback against the real service manager.
#include <gtest/gtest.h>

#include "service_fixture.h"

extern "C" UINT __stdcall MsiCreateService(MSIHANDLE install);
extern "C" UINT __stdcall MsiCreateServiceRollback(MSIHANDLE install);

namespace {

using namespace kvca::test;

class CspService : public SessionTest {
 protected:
  UINT Run(UINT(__stdcall* action)(MSIHANDLE), const std::wstring& data) {
    SetProperty(L"CustomActionData", data);
    captured_.clear();
    return action(Session());
  }
};

std::wstring Hosted(const std::wstring& display) {
  return L"type=0x110 start=2 error=1 image=%SystemRoot%\\system32\\svchost.exe -k kvcsp display=" +
         display + L" account=LocalSystem";
}

// The one test that uses the fixed name "kvcsp2".
TEST_F(CspService, CreatesTheHostedServiceUnderTheMappedNameAndRollsItBack) {
  RemoveService(L"kvcsp2");
  ASSERT_EQ(0u, Run(MsiCreateService, L"kvcsp3/Korvex CSP Service"));
  EXPECT_TRUE(captured_.empty());
  EXPECT_EQ(Hosted(L"Korvex CSP Service"), ServiceConfigText(L"kvcsp2"));
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(L"kvcsp2")) << "not started";

  EXPECT_EQ(1603u, Run(MsiCreateService, L"kvcsp2"));
  ASSERT_EQ(1u, Errors().size());
  EXPECT_EQ(L"1923|kvcsp2|1073", FieldsText(Errors()[0])) << "ERROR_SERVICE_EXISTS";

  // The rollback takes the whole text as the name, and never reports.
  EXPECT_EQ(1603u, Run(MsiCreateServiceRollback, L"kvcsp3/Korvex CSP Service"));
  EXPECT_EQ(0u, Run(MsiCreateServiceRollback, L"kvcsp3"));
  EXPECT_TRUE(WaitForServiceState(L"kvcsp2", 0)) << "deleted";
  EXPECT_EQ(1603u, Run(MsiCreateServiceRollback, L"kvcsp3"));
  EXPECT_TRUE(captured_.empty());
}

TEST_F(CspService, TakesTheNameUpToTheFirstSlash) {
  const std::wstring name = UniqueName(L"kvca_svc_");
  ASSERT_EQ(0u, Run(MsiCreateService, name + L"/Korvex/CSP Service/"));
  EXPECT_EQ(Hosted(L"Korvex/CSP Service/"), ServiceConfigText(name));
  EXPECT_EQ(0u, Run(MsiCreateServiceRollback, name));

  // Without a slash the display name is empty: Wine keeps it so, Windows shows
  // the service name instead.
  ASSERT_EQ(0u, Run(MsiCreateService, name));
  const std::wstring config = ServiceConfigText(name);
  EXPECT_TRUE(config == Hosted(L"") || config == Hosted(name))
      << config;
  EXPECT_TRUE(RemoveService(name));

  // An empty name is refused by the manager (Windows: ERROR_INVALID_NAME).
  for (const wchar_t* data : {L"/Korvex CSP Service", L""}) {
    EXPECT_EQ(1603u, Run(MsiCreateService, data));
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(0u, FieldsText(Errors()[0]).rfind(L"1923||", 0)) << FieldsText(Errors()[0]);
  }
}

TEST_F(CspService, RollbackStopsARunningService) {
  const std::wstring name = UniqueName(L"kvca_run_");
  ASSERT_TRUE(CreateStandinService(name, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, true));
  EXPECT_EQ(0u, Run(MsiCreateServiceRollback, name));
  // A running service marked for deletion stays until it stops.
  EXPECT_TRUE(WaitForServiceState(name, 0));
  RemoveService(name);
}

}  // namespace
