// MsiCreateService and its rollback against the real service manager.
#include <gtest/gtest.h>

#include "service_fixture.h"
#include "frame/handles.h"
#include "support/session.h"

extern "C" UINT __stdcall MsiCreateService(MSIHANDLE install);
extern "C" UINT __stdcall MsiCreateServiceRollback(MSIHANDLE install);

namespace {

using namespace kvca::test;

class CspService : public SessionTest {
 protected:
  UINT Create(const std::wstring& data) {
    SetProperty(L"CustomActionData", data);
    captured_.clear();
    return MsiCreateService(Session());
  }
  UINT Rollback(const std::wstring& data) {
    SetProperty(L"CustomActionData", data);
    captured_.clear();
    return MsiCreateServiceRollback(Session());
  }
};

// The one test that uses the fixed name "kvcsp2".
TEST_F(CspService, CreatesTheHostedServiceUnderTheMappedNameAndRollsItBack) {
  RemoveService(L"kvcsp2");
  ASSERT_EQ(0u, Create(L"kvcsp3/Korvex CSP Service"));
  EXPECT_TRUE(captured_.empty());
  EXPECT_FALSE(QueryService(L"kvcsp3").exists);

  const ServiceConfig created = QueryService(L"kvcsp2");
  ASSERT_TRUE(created.exists);
  EXPECT_EQ(0x110u, created.type);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), created.startType);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), created.errorControl);
  EXPECT_EQ(L"%SystemRoot%\\system32\\svchost.exe -k kvcsp", created.imagePath);
  EXPECT_EQ(L"Korvex CSP Service", created.displayName);
  EXPECT_EQ(L"LocalSystem", created.account);
  EXPECT_EQ(L"", created.group);
  EXPECT_EQ(L"", created.dependencies);
  EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(L"kvcsp2")) << "created, not started";

  // A second creation finds the service there.
  EXPECT_EQ(1603u, Create(L"kvcsp2"));
  ASSERT_EQ(1u, Errors().size());
  EXPECT_TRUE(IsServiceErrorRecord(Errors()[0], L"kvcsp2", ERROR_SERVICE_EXISTS));

  // The rollback takes the whole text as the name: no service "kvcsp3/..." exists.
  EXPECT_EQ(1603u, Rollback(L"kvcsp3/Korvex CSP Service"));
  EXPECT_TRUE(QueryService(L"kvcsp2").exists);

  EXPECT_EQ(0u, Rollback(L"kvcsp3"));
  EXPECT_TRUE(WaitForServiceGone(L"kvcsp2"));
  EXPECT_EQ(1603u, Rollback(L"kvcsp3")) << "nothing left to delete";
  EXPECT_TRUE(captured_.empty()) << "the rollback never reports";
}

TEST_F(CspService, TakesTheNameUpToTheFirstSlashAndTheRestAsDisplayName) {
  const std::wstring name = UniqueName(L"kvca_svc_");
  ASSERT_EQ(0u, Create(name + L"/Korvex/CSP Service/"));
  EXPECT_EQ(L"Korvex/CSP Service/", QueryService(name).displayName);
  EXPECT_EQ(0u, Rollback(name));
  EXPECT_TRUE(WaitForServiceGone(name));

  // Without a slash the display name is empty; Windows then shows the service
  // name instead, Wine the empty text.
  ASSERT_EQ(0u, Create(name));
  const std::wstring display = QueryService(name).displayName;
  EXPECT_TRUE(display.empty() || display == name) << display;
  EXPECT_EQ(0u, Rollback(name));
  EXPECT_TRUE(WaitForServiceGone(name));
}

TEST_F(CspService, AnEmptyNameIsRefusedWithTheServiceError) {
  for (const wchar_t* data : {L"/Korvex CSP Service", L""}) {
    EXPECT_EQ(1603u, Create(data)) << data;
    const std::vector<Message> errors = Errors();
    ASSERT_EQ(1u, errors.size()) << data;
    // Windows refuses the name with ERROR_INVALID_NAME; the code is whatever the
    // manager answered.
    const Message& record = errors[0];
    ASSERT_EQ(4u, record.fields.size());
    EXPECT_TRUE(IsServiceErrorRecord(record, L"", record.Integer(3)));
    EXPECT_NE(0, record.Integer(3));
  }
}

TEST_F(CspService, RollbackStopsARunningServiceBeforeDeletingIt) {
  const std::wstring name = UniqueName(L"kvca_run_");
  ASSERT_TRUE(CreateStandinService(name, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL));
  {
    kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kvca::ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_START));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
  }
  ASSERT_TRUE(WaitForServiceState(name, SERVICE_RUNNING));

  EXPECT_EQ(0u, Rollback(name));
  EXPECT_TRUE(WaitForServiceGone(name)) << "a running service stays until it stops";
  RemoveService(name);
}

}  // namespace
