// Reads the built kvca.dll: its size, the DLLs its import table names and the
// names it exports.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

// Every custom action built so far (drivers, readers, services, providers,
// features, cleanup), and nothing else.
const std::set<std::string> kExpectedExports = {
    "KSCleanup", "KSInstallW", "KSInstCleanUp", "KSInstInstall", "KSInstRollback", "KSInstUninstall",
    "KSProcess", "KSUninstallW", "ProcessReaderProviders", "ProcessRegReaders", "RegReaderProv",
    "CheckDll", "CheckVipNet", "EnableInteractiveServices", "MsiCreateService",
    "MsiCreateServiceRollback", "SetSCardSvrAutoStart", "SetupCSPTest", "UnHookSystem", "DelAllReg",
    "DelKVCryptographyKey", "DelKVCSPs", "DelSecurityProviders30KC1", "EnhanceCNG",
    "FixDefaultProvider", "FixPrivateKeyLinks", "SetRegistryLow", "SslRegInstall", "SslRegister",
    "SslRegRollback", "SslRegUninstall", "TlsRegUninstall", "UninstallSmartCard", "AddNewFeatures",
    "AddRemovedComponents", "GetCSPProgramW6432Dir", "HideKVCSPR1IfInstalled", "MsiGetShortPathName",
    "ProcessPropertyEx", "RemoveAppPaths", "DeleteShortcuts", "RebuildIconCache", "UninstallCSP2",
    "UninstallTLS2"};

// DLLs that every supported 64-bit Windows has. setupapi, crypt32, winscard
// and secur32 are delay-loaded, so they are not among them.
const std::set<std::string> kSystemDlls = {"advapi32.dll", "kernel32.dll", "msi.dll",
                                           "msvcrt.dll",   "shell32.dll",  "shlwapi.dll",
                                           "user32.dll",   "ole32.dll",    "version.dll"};

std::wstring DllPath() {
  const wchar_t* path = _wgetenv(L"KVCA_DLL");
  return path ? path : L"kvca.dll";
}

// The image mapped without its imports resolved or its entry point called:
// a relative address is an offset from the base.
struct Image {
  HMODULE module = LoadLibraryExW(DllPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ~Image() { if (module) FreeLibrary(module); }
  template <class T> const T* At(DWORD rva) const {
    return rva ? reinterpret_cast<const T*>(reinterpret_cast<const char*>(module) + rva) : nullptr;
  }
  DWORD Directory(int index) const {
    auto* nt = At<IMAGE_NT_HEADERS64>(reinterpret_cast<const IMAGE_DOS_HEADER*>(module)->e_lfanew);
    return nt->OptionalHeader.DataDirectory[index].VirtualAddress;
  }
};

// The built DLL is stripped and linked with link-time optimisation; with every
// action it stays within 150,000 bytes.
TEST(DllImage, FitsTheSizeLimit) {
  std::ifstream file(DllPath().c_str(), std::ios::binary | std::ios::ate);
  ASSERT_TRUE(file.is_open());
  EXPECT_LE(static_cast<long long>(file.tellg()), 150000) << "tools/dll-size.py kvca.map shows where the bytes go";
}

TEST(DllImage, ImportsSystemDllsOnly) {
  Image image;
  ASSERT_NE(nullptr, image.module) << GetLastError();
  auto* entry = image.At<IMAGE_IMPORT_DESCRIPTOR>(image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT));
  for (; entry && entry->Name != 0; ++entry) {
    std::string dll = image.At<char>(entry->Name);
    for (char& c : dll) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(kSystemDlls.count(dll)) << dll << " is not a system DLL, or must be delay-loaded";
  }
}

TEST(DllImage, ExportsExactlyTheBuiltActions) {
  Image image;
  ASSERT_NE(nullptr, image.module) << GetLastError();
  auto* exports = image.At<IMAGE_EXPORT_DIRECTORY>(image.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT));
  std::set<std::string> names;
  for (DWORD i = 0; exports && i < exports->NumberOfNames; ++i)
    names.insert(image.At<char>(image.At<DWORD>(exports->AddressOfNames)[i]));
  EXPECT_EQ(kExpectedExports, names);
}

}  // namespace
