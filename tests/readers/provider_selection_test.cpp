// The scratch package binds the three registration names to set-property
// actions that append the action's name and its property's value (the
// CustomActionData it would receive) to the property SCHEDULED, so each
// scheduling can be read back in order.
#include <gtest/gtest.h>

#include "frame/action.h"
#include "support/session.h"

KVCA_ACTION ProcessReaderProviders(MSIHANDLE install);

namespace {

using namespace kvca::test;

const std::wstring kSep(1, L'\x0001');

class ProviderSelection : public SessionTest {
 protected:
  ProviderSelection() {
    Sql(L"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, "
        L"`Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)");
    for (const wchar_t* name : {L"RegReaderProv", L"RegReaderProv64", L"RegReaderProvIA"})
      Sql(std::wstring(L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('") +
          name + L"', 51, 'SCHEDULED', '[SCHEDULED]" + name + L"=[" + name + L"];')");
    PackageProperty(L"KVMODULENAME", L"kvmod");
    PackageProperty(L"INSTALLDIR", L"C:\\P32\\");
    PackageProperty(L"INSTALLDIR64", L"C:\\P64\\");
  }

  UINT Select() { return ProcessReaderProviders(Session()); }

  static std::wstring Data(const std::wstring& carrier, const std::wstring& media,
                           const std::wstring& level, const std::wstring& folder) {
    return carrier + kSep + media + kSep + level + kSep + L"kvmod" + kSep + folder + L"kvcsp.dll";
  }
  static std::wstring Both(const std::wstring& carrier, const std::wstring& media,
                           const std::wstring& level) {
    return L"RegReaderProv=" + Data(carrier, media, level, L"C:\\P32\\") + L";RegReaderProv64=" +
           Data(carrier, media, level, L"C:\\P64\\") + L";";
  }
};

TEST_F(ProviderSelection, SchedulesSelectedCarriersInTableOrderAndTheFirstBecomesDefault) {
  SetProperty(L"REGFLOPPY", L"1");
  SetProperty(L"REGREGISTRY", L"1");
  SetProperty(L"KCLEVEL", L"3");
  ASSERT_NE(L"", Property(L"Msix64")) << "a 64-bit installer sets Msix64";

  EXPECT_EQ(0u, Select());
  EXPECT_EQ(Both(L"Registry", L"REGISTRY", L"3") + Both(L"Floppy", L"FAT12", L"3"), Property(L"SCHEDULED"));
  EXPECT_EQ(L"Korvex Registry KC3 CSP", Property(L"DEFAULTCSP75"));
  EXPECT_EQ((std::vector<std::wstring>{L"Have to register provider for Registry",
                                       L"Have to register provider for Floppy"}),
            InfoTexts());
}

TEST_F(ProviderSelection, NothingSelectedRegistersVerifyOnlyWithoutMakingItDefault) {
  SetProperty(L"REGPNPPCSC", L"1");
  SetProperty(L"NOPCSC", L"1");
  SetProperty(L"KCLEVEL", L"1");

  EXPECT_EQ(0u, Select());
  EXPECT_EQ(Both(L"Verify Only", L"", L"1"), Property(L"SCHEDULED"));
  EXPECT_EQ(L"", Property(L"DEFAULTCSP75"));
  EXPECT_EQ(std::vector<std::wstring>{L"Have to register provider for Verify Only"}, InfoTexts());
}

TEST_F(ProviderSelection, AnExistingDefaultIsKeptAndSuppressesVerifyOnly) {
  SetProperty(L"DEFAULTCSP75", L"Other CSP");
  EXPECT_EQ(0u, Select());
  EXPECT_EQ(L"", Property(L"SCHEDULED"));
  EXPECT_EQ(L"Other CSP", Property(L"DEFAULTCSP75"));

  SetProperty(L"KCLEVEL", L"2");  // selects Dallas
  EXPECT_EQ(0u, Select());
  EXPECT_EQ(Both(L"Dallas", L"DS", L"2"), Property(L"SCHEDULED"));
  EXPECT_EQ(L"Other CSP", Property(L"DEFAULTCSP75"));
}

TEST_F(ProviderSelection, SecondRegistrationFollowsThePlatform) {
  SetProperty(L"REGALLPCSC", L"1");
  SetProperty(L"KCLEVEL", L"1");
  const std::wstring first = L"RegReaderProv=" + Data(L"Smart Card", L"SCARD", L"1", L"C:\\P32\\") + L";";

  // Itanium: Intel64 only.
  SetProperty(L"Msix64", L"");
  SetProperty(L"Intel64", L"1");
  EXPECT_EQ(0u, Select());
  EXPECT_EQ(first + L"RegReaderProvIA=" + Data(L"Smart Card", L"SCARD", L"1", L"C:\\P64\\") + L";",
            Property(L"SCHEDULED"));

  // Neither platform property: no second registration.
  SetProperty(L"SCHEDULED", L"");
  SetProperty(L"Intel64", L"");
  EXPECT_EQ(0u, Select());
  EXPECT_EQ(first, Property(L"SCHEDULED"));

  // A 32-bit system: the 64-bit folder is not even read.
  SetProperty(L"SCHEDULED", L"");
  SetProperty(L"Msix64", L"1");
  SetProperty(L"VersionNT64", L"");
  EXPECT_EQ(0u, Select());
  EXPECT_EQ(first, Property(L"SCHEDULED"));
  EXPECT_EQ(L"Korvex Smart Card KC1 CSP", Property(L"DEFAULTCSP75"));
}

}  // namespace
