#include <gtest/gtest.h>

#include "frame/action.h"
#include "support/registry_sandbox.h"
#include "support/session.h"

KVCA_ACTION RegReaderProv(MSIHANDLE install);

namespace {

using namespace kvca::test;

const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
const wchar_t kSep = L'\x0001';

std::wstring Join(std::initializer_list<std::wstring> fields) {
  std::wstring data;
  for (const std::wstring& field : fields) {
    if (&field != fields.begin()) data += kSep;
    data += field;
  }
  return data;
}

class ProviderRegistration : public SessionTest {
 protected:
  UINT Register(const std::wstring& data) {
    SetProperty(L"CustomActionData", data);
    MSIHANDLE install = Session();
    RegistrySandbox::Redirect redirect(sandbox_);
    return RegReaderProv(install);
  }
  HKEY Machine() const { return sandbox_.machine(); }

  RegistrySandbox sandbox_;
};

TEST_F(ProviderRegistration, SmartCardProviderGetsEveryValueWithItsType) {
  const std::wstring path = L"C:\\Program Files\\Korvex\\CSP\\kvcsp.dll";
  EXPECT_EQ(0u, Register(Join({L"Smart Card", L"SCARD", L"2", L"kvmod", path})));

  const std::wstring key = kProviders + L"Korvex Smart Card KC2 CSP";
  EXPECT_EQ(L"Image Path|ImpType|KV Module Entry Point|KV Module Name|KV Service Name|"
            L"KV Service UUID|Media|SigInFile|Type",
            ValueNames(Machine(), key));
  EXPECT_EQ(L"SCARD", StringValue(Machine(), key, L"Media"));
  EXPECT_EQ(L"DllStartServer", StringValue(Machine(), key, L"KV Module Entry Point"));
  EXPECT_EQ(L"kvmod", StringValue(Machine(), key, L"KV Module Name"));
  EXPECT_EQ(L"Korvex CSP KC2 Service %d", StringValue(Machine(), key, L"KV Service Name"));
  EXPECT_EQ(L"323BF3DA-B759-47a9-89E3-080776A1F4D6", StringValue(Machine(), key, L"KV Service UUID"));
  EXPECT_EQ(1u, DwordValue(Machine(), key, L"SigInFile"));
  EXPECT_EQ(75u, DwordValue(Machine(), key, L"Type"));
  EXPECT_EQ(8u, DwordValue(Machine(), key, L"ImpType"));

  // Strings are stored with exactly one terminating NUL.
  DWORD type = 0;
  std::wstring raw;
  ASSERT_TRUE(ReadRawValue(Machine(), key, L"Image Path", type, raw));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(path + L'\0', raw);

  EXPECT_EQ(std::vector<std::wstring>{L"RegReaderProv(Smart Card, SCARD, 2, kvmod, " + path + L")"},
            InfoTexts());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(ProviderRegistration, MediaDecidesMediaAndImpType) {
  EXPECT_EQ(0u, Register(Join({L"Registry", L"REGISTRY", L"1", L"m", L"p"})));
  EXPECT_EQ(L"REGISTRY", StringValue(Machine(), kProviders + L"Korvex Registry KC1 CSP", L"Media"));
  EXPECT_EQ(L"<missing>", StringValue(Machine(), kProviders + L"Korvex Registry KC1 CSP", L"ImpType"));

  // Verify-only: no media code, so neither "Media" nor "ImpType".
  EXPECT_EQ(0u, Register(Join({L"Verify Only", L"", L"1", L"m", L"p"})));
  EXPECT_EQ(L"Image Path|KV Module Entry Point|KV Module Name|KV Service Name|KV Service UUID|"
            L"SigInFile|Type",
            ValueNames(Machine(), kProviders + L"Korvex Verify Only KC1 CSP"));

  // The media code is compared case-sensitively.
  EXPECT_EQ(0u, Register(Join({L"Smart Card", L"scard", L"1", L"m", L"p"})));
  EXPECT_EQ(L"scard", StringValue(Machine(), kProviders + L"Korvex Smart Card KC1 CSP", L"Media"));
  EXPECT_EQ(L"<missing>", StringValue(Machine(), kProviders + L"Korvex Smart Card KC1 CSP", L"ImpType"));
}

TEST_F(ProviderRegistration, SplitsFourFieldsAndKeepsTheRestAsModulePath) {
  // Later separators stay in the module path.
  EXPECT_EQ(0u, Register(Join({L"Floppy", L"FAT12", L"3", L"m", L"C:\\a", L"b"})));
  EXPECT_EQ(std::wstring(L"C:\\a") + kSep + L"b",
            StringValue(Machine(), kProviders + L"Korvex Floppy KC3 CSP", L"Image Path"));

  // Without separators the four fields are empty and the whole text is the path.
  EXPECT_EQ(0u, Register(L"C:\\whole"));
  const std::wstring bare = kProviders + L"Korvex  KC CSP";
  EXPECT_EQ(L"C:\\whole", StringValue(Machine(), bare, L"Image Path"));
  EXPECT_EQ(L"", StringValue(Machine(), bare, L"KV Module Name"));
  EXPECT_EQ(L"Korvex CSP KC Service %d", StringValue(Machine(), bare, L"KV Service Name"));
  EXPECT_EQ(L"<missing>", StringValue(Machine(), bare, L"Media"));
  EXPECT_EQ(L"RegReaderProv(, , , , C:\\whole)", InfoTexts().back());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(ProviderRegistration, RegisteringAgainOverwritesOnlyItsOwnValues) {
  const std::wstring data = Join({L"Dallas", L"DS", L"2", L"m", L"p1"});
  EXPECT_EQ(0u, Register(data));
  const std::wstring key = kProviders + L"Korvex Dallas KC2 CSP";
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(Machine(), key.c_str(), 0, KEY_SET_VALUE, &opened));
  RegSetValueExW(opened, L"Foreign", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
  RegSetValueExW(opened, L"Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
  RegCloseKey(opened);

  EXPECT_EQ(0u, Register(data));
  EXPECT_EQ(L"p1", StringValue(Machine(), key, L"Image Path"));
  EXPECT_EQ(L"x", StringValue(Machine(), key, L"Foreign"));
}

TEST_F(ProviderRegistration, KeyThatCannotBeCreatedIsReported) {
  // A volatile parent refuses the provider's non-volatile key.
  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(Machine(), L"SOFTWARE\\Microsoft\\Cryptography\\Defaults", 0,
                                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent, nullptr));
  HKEY providers = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(parent, L"Provider", 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &providers, nullptr));
  RegCloseKey(providers);
  RegCloseKey(parent);

  Register(Join({L"Smart Card", L"SCARD", L"2", L"m", L"p"}));
  const std::vector<Message> errors = Errors();
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(L"RegReaderProv", errors[0].Text(2));
  EXPECT_EQ(L"Creating Reg key fail", errors[0].Text(3));
  EXPECT_FALSE(KeyExists(Machine(), kProviders + L"Korvex Smart Card KC2 CSP"));
}

}  // namespace
