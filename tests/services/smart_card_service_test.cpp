// SetSCardSvrAutoStart. Wine has no smart-card service: the test installs the
// stand-in service under the name "SCardSvr" and deletes it again.
#include <gtest/gtest.h>

#include "frame/handles.h"
#include "service_fixture.h"
#include "support/session.h"

extern "C" UINT __stdcall SetSCardSvrAutoStart(MSIHANDLE install);

namespace {

using namespace kvca::test;

const wchar_t kSmartCard[] = L"SCardSvr";

class SmartCardService : public SessionTest {
 protected:
  UINT Run() {
    captured_.clear();
    return SetSCardSvrAutoStart(Session());
  }
  static void StopService() {
    kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kvca::ServiceHandle service(OpenServiceW(manager.get(), kSmartCard, SERVICE_ALL_ACCESS));
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    ASSERT_TRUE(WaitForServiceState(kSmartCard, SERVICE_STOPPED));
  }
  static void SetStartType(DWORD startType) {
    kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kvca::ServiceHandle service(OpenServiceW(manager.get(), kSmartCard, SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  // After each run: automatic start, everything else as the stand-in was made.
  void ExpectAutoStartedAsMade(const ServiceConfig& made) {
    const ServiceConfig now = QueryService(kSmartCard);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), now.startType);
    EXPECT_EQ(made.type, now.type);
    EXPECT_EQ(made.errorControl, now.errorControl);
    EXPECT_EQ(made.imagePath, now.imagePath);
    EXPECT_EQ(made.displayName, now.displayName);
    EXPECT_TRUE(WaitForServiceState(kSmartCard, SERVICE_RUNNING)) << "started";
    EXPECT_TRUE(captured_.empty());
  }
};

TEST_F(SmartCardService, SetsAutomaticStartKeepingTheRestAndStartsIt) {
  RemoveService(kSmartCard);
  EXPECT_EQ(1603u, Run());
  ASSERT_EQ(1u, Errors().size());
  EXPECT_TRUE(IsServiceErrorRecord(Errors()[0], kSmartCard, ERROR_SERVICE_DOES_NOT_EXIST));

  ASSERT_TRUE(CreateStandinService(kSmartCard, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE));
  const ServiceConfig made = QueryService(kSmartCard);
  ASSERT_EQ(static_cast<DWORD>(SERVICE_ERROR_IGNORE), made.errorControl);

  EXPECT_EQ(0u, Run()) << "manual start";
  ExpectAutoStartedAsMade(made);
  EXPECT_EQ(0u, Run()) << "already automatic and running";
  ExpectAutoStartedAsMade(made);

  StopService();
  SetStartType(SERVICE_DISABLED);
  EXPECT_EQ(0u, Run()) << "disabled";
  ExpectAutoStartedAsMade(made);

  StopService();
  EXPECT_EQ(0u, Run()) << "automatic but stopped";
  ExpectAutoStartedAsMade(made);

  EXPECT_TRUE(RemoveService(kSmartCard));
}

}  // namespace
