#include <gtest/gtest.h>

#include <shlwapi.h>

#include <vector>

#include "support/installer_run.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca::test;

const std::wstring kCard = L"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Korvex KC Card";
const std::wstring kCarriers = L"SOFTWARE\\Korvex\\Cryptography\\CurrentVersion\\";
const std::wstring kPcsc = kCarriers + L"Smart Card\\PCSC";

std::vector<BYTE> BinaryValue(const std::wstring& key, const wchar_t* name) {
  std::vector<BYTE> data(64);
  DWORD size = static_cast<DWORD>(data.size());
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_BINARY, nullptr, data.data(),
                   &size) != ERROR_SUCCESS)
    return {};
  data.resize(size);
  return data;
}

DWORD SubkeyCount(const std::wstring& key) {
  kvca::RegKey opened;
  DWORD count = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS)
    RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
  return count;
}

TEST(ReferencePackage, InstallsTheReaderTableValuesAndRemovesThemAgain) {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kCard.c_str());
  for (const wchar_t* family : {L"Registry", L"Smart Card"})
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kCarriers + family).c_str());

  MsiexecRun install = InstallReferencePackage();
  ASSERT_TRUE(install.result.started);
  EXPECT_EQ(0u, install.result.exitCode);
  // One line per RegReaders row, skipped rows included; the installer formats
  // the line, so the Dll value shows its folder.
  for (const char* line :
       {"WLSC;Korvex KC Card;ATR;#x3b1896004b4f5256455831;SmartCardTypes;1;;",
        "WLSC;Korvex KC Card;ATRMask;#xffffffffffffffffffffff;SmartCardTypes;1;;",
        "WLSC;Korvex KC Card;Crypto Provider;Korvex Smart Card KC1 CSP;SmartCardTypes;1;;",
        "Registry;Registry;-;Korvex registry key store;ReaderSettings;REGREGISTRY;;",
        "Registry;Registry;Dll;C:\\Program Files\\Korvex\\CSP\\kvcsp.dll;ReaderSettings;REGREGISTRY;;",
        "Smart Card;PCSC;Enabled;#1;ReaderSettings;REGPNPPCSC;PCSCREADERS;",
        "Floppy;FAT12;Enabled;#1;ReaderSettings;REGFLOPPY;;", "Dallas;DS1410E;Enabled;#1;DallasReaders;1;;"})
    EXPECT_EQ(1u, install.CountLines(line)) << line << "\n" << install.Excerpt(";;");
  EXPECT_FALSE(install.LogContains("RegReader Table")) << install.Excerpt("RegReader");
  // Wine's WriteRegistryValues names each value it writes; the action itself writes none.
  EXPECT_TRUE(install.LogContains("Key: HKEY_LOCAL_MACHINE\\" + std::string(kPcsc.begin(), kPcsc.end()) +
                                  "\\Korvex USB Token, Name: Enabled"))
      << install.Excerpt("Key: ");

  EXPECT_EQ(L"ATR|ATRMask|Crypto Provider", ValueNames(HKEY_LOCAL_MACHINE, kCard));
  EXPECT_EQ(std::vector<BYTE>({0x3b, 0x18, 0x96, 0x00, 0x4b, 0x4f, 0x52, 0x56, 0x45, 0x58, 0x31}),
            BinaryValue(kCard, L"ATR"));
  EXPECT_EQ(std::vector<BYTE>(11, 0xff), BinaryValue(kCard, L"ATRMask"));
  EXPECT_EQ(L"Korvex Smart Card KC1 CSP", StringValue(HKEY_LOCAL_MACHINE, kCard, L"Crypto Provider"));

  const std::wstring store = kCarriers + L"Registry\\Registry";
  EXPECT_EQ(L"Dll", ValueNames(HKEY_LOCAL_MACHINE, store));  // the unnamed value joins as ""
  EXPECT_EQ(L"Korvex registry key store", StringValue(HKEY_LOCAL_MACHINE, store, L""));
  EXPECT_EQ(L"C:\\Program Files\\Korvex\\CSP\\kvcsp.dll", StringValue(HKEY_LOCAL_MACHINE, store, L"Dll"));

  // The list's empty item puts its value on the PCSC key itself.
  EXPECT_EQ(2u, SubkeyCount(kPcsc));
  for (const std::wstring& key : {kPcsc, kPcsc + L"\\Korvex USB Token", kPcsc + L"\\Korvex Card Reader"}) {
    EXPECT_EQ(L"Enabled", ValueNames(HKEY_LOCAL_MACHINE, key)) << key;
    EXPECT_EQ(1u, DwordValue(HKEY_LOCAL_MACHINE, key, L"Enabled")) << key;
  }
  // A false condition (REGFLOPPY unset) and a component not installed (DALLASREADERS unset).
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCarriers + L"Floppy"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCarriers + L"Dallas"));

  // The temporary rows are gone at removal: the package's "-" rows delete the keys.
  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_FALSE(removal.LogContains(";ReaderSettings;")) << "the table is read at installation only";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCard));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCarriers + L"Registry"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kCarriers + L"Smart Card"));
  EXPECT_EQ(L"<missing>", StringValue(HKEY_LOCAL_MACHINE, kCarriers, L"ReadersVersion"));
}

}  // namespace
