// SetSCardSvrAutoStart. Wine has no smart-card service: the test installs the
// stand-in service under the name "SCardSvr" and deletes it again.
#include <gtest/gtest.h>

#include "frame/handles.h"
#include "service_fixture.h"

extern "C" UINT __stdcall SetSCardSvrAutoStart(MSIHANDLE install);

namespace {

using namespace kvca::test;

const wchar_t kSmartCard[] = L"SCardSvr";

// Sets the start type, after stopping the service when `stop` is set.
void Prepare(DWORD startType, bool stop) {
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  kvca::ServiceHandle service(OpenServiceW(manager.get(), kSmartCard, SERVICE_ALL_ACCESS));
  SERVICE_STATUS status = {};
  if (stop) ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  ASSERT_TRUE(!stop || WaitForServiceState(kSmartCard, SERVICE_STOPPED));
  ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

using SmartCardService = SessionTest;

TEST_F(SmartCardService, SetsAutomaticStartKeepingTheRestAndStartsIt) {
  RemoveService(kSmartCard);
  EXPECT_EQ(1603u, SetSCardSvrAutoStart(Session()));
  ASSERT_EQ(1u, Errors().size());
  EXPECT_EQ(L"1923|SCardSvr|1060", FieldsText(Errors()[0])) << "ERROR_SERVICE_DOES_NOT_EXIST";
  captured_.clear();

  ASSERT_TRUE(CreateStandinService(kSmartCard, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE));
  std::wstring automatic = ServiceConfigText(kSmartCard);
  automatic.replace(automatic.find(L"start=3"), 7, L"start=2");

  const struct {
    DWORD startType;
    bool stop;
  } cases[] = {{SERVICE_DEMAND_START, true}, {SERVICE_AUTO_START, false},
               {SERVICE_DISABLED, true}, {SERVICE_AUTO_START, true}};
  for (const auto& before : cases) {
    Prepare(before.startType, before.stop);
    EXPECT_EQ(0u, SetSCardSvrAutoStart(Session())) << before.startType;
    EXPECT_EQ(automatic, ServiceConfigText(kSmartCard)) << before.startType;
    EXPECT_TRUE(WaitForServiceState(kSmartCard, SERVICE_RUNNING)) << before.startType;
  }
  EXPECT_TRUE(captured_.empty());
  EXPECT_TRUE(RemoveService(kSmartCard));
}

}  // namespace
