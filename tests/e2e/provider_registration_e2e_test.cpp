#include <gtest/gtest.h>

#include <shlwapi.h>

#include "support/installer_run.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca::test;

const std::wstring kProviders = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
const std::wstring kSmartCard = kProviders + L"Korvex Smart Card KC1 CSP";
const std::wstring kRegistry = kProviders + L"Korvex Registry KC1 CSP";

void ForgetProviders() {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kSmartCard.c_str());
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kRegistry.c_str());
}

TEST(ReferencePackage, RegistersOneProviderPerSelectedCarrier) {
  ForgetProviders();
  MsiexecRun install = InstallReferencePackage();
  ASSERT_TRUE(install.result.started);
  EXPECT_EQ(0u, install.result.exitCode);

  // The selection, in carrier table order, and each registration's data: the
  // 32-bit folder first, then the 64-bit one.
  EXPECT_TRUE(install.LogHas("Have to register provider for Smart Card")) << install.Excerpt("Have to");
  EXPECT_TRUE(install.LogHas("Have to register provider for Registry"));
  EXPECT_FALSE(install.LogContains("Have to register provider for Verify Only"));
  EXPECT_TRUE(install.LogHas(
      "RegReaderProv(Smart Card, SCARD, 1, kvcsp, C:\\Program Files (x86)\\Korvex\\CSP\\kvcsp.dll)"))
      << install.Excerpt("RegReaderProv(");
  EXPECT_TRUE(install.LogHas(
      "RegReaderProv(Smart Card, SCARD, 1, kvcsp, C:\\Program Files\\Korvex\\CSP\\kvcsp.dll)"));
  EXPECT_TRUE(install.LogHas(
      "RegReaderProv(Registry, REGISTRY, 1, kvcsp, C:\\Program Files\\Korvex\\CSP\\kvcsp.dll)"));
  EXPECT_TRUE(install.LogHas("Property(S): DEFAULTCSP75 = Korvex Smart Card KC1 CSP"))
      << install.Excerpt("DEFAULTCSP75");

  // The 64-bit registration runs last and leaves its module path.
  EXPECT_EQ(L"Image Path|ImpType|KV Module Entry Point|KV Module Name|KV Service Name|"
            L"KV Service UUID|Media|SigInFile|Type",
            ValueNames(HKEY_LOCAL_MACHINE, kSmartCard));
  EXPECT_EQ(L"SCARD", StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"Media"));
  EXPECT_EQ(L"DllStartServer", StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"KV Module Entry Point"));
  EXPECT_EQ(L"kvcsp", StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"KV Module Name"));
  EXPECT_EQ(L"C:\\Program Files\\Korvex\\CSP\\kvcsp.dll",
            StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"Image Path"));
  EXPECT_EQ(1u, DwordValue(HKEY_LOCAL_MACHINE, kSmartCard, L"SigInFile"));
  EXPECT_EQ(75u, DwordValue(HKEY_LOCAL_MACHINE, kSmartCard, L"Type"));
  EXPECT_EQ(8u, DwordValue(HKEY_LOCAL_MACHINE, kSmartCard, L"ImpType"));
  EXPECT_EQ(L"Korvex CSP KC1 Service %d", StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"KV Service Name"));
  EXPECT_EQ(L"323BF3DA-B759-47a9-89E3-080776A1F4D6",
            StringValue(HKEY_LOCAL_MACHINE, kSmartCard, L"KV Service UUID"));

  EXPECT_EQ(L"Image Path|KV Module Entry Point|KV Module Name|KV Service Name|KV Service UUID|"
            L"Media|SigInFile|Type",
            ValueNames(HKEY_LOCAL_MACHINE, kRegistry));
  EXPECT_EQ(L"REGISTRY", StringValue(HKEY_LOCAL_MACHINE, kRegistry, L"Media"));

  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_FALSE(removal.LogContains("Have to register provider")) << "selection runs at install only";
  ForgetProviders();
}

}  // namespace
