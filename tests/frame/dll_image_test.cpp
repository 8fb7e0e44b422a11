// Reads the built kvca.dll as a file: which DLLs its import table names and
// which names it exports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

// Every custom action built so far, and nothing else.
const std::set<std::string> kExpectedExports = {
    // drivers/
    "KSCleanup",
    "KSInstallW",
    "KSInstCleanUp",
    "KSInstInstall",
    "KSInstRollback",
    "KSInstUninstall",
    "KSProcess",
    "KSUninstallW",

    // readers/
    "ProcessReaderProviders",
    "ProcessRegReaders",
    "RegReaderProv",

    // services/
    "CheckDll",
    "CheckVipNet",
    "EnableInteractiveServices",
    "MsiCreateService",
    "MsiCreateServiceRollback",
    "SetSCardSvrAutoStart",
    "SetupCSPTest",
    "UnHookSystem",

    // providers/
    "DelAllReg",
    "DelKVCryptographyKey",
    "DelKVCSPs",
    "DelSecurityProviders30KC1",
    "EnhanceCNG",
    "FixDefaultProvider",
    "FixPrivateKeyLinks",
    "SetRegistryLow",
    "SslRegInstall",
    "SslRegister",
    "SslRegRollback",
    "SslRegUninstall",
    "TlsRegUninstall",
    "UninstallSmartCard",

    // features/
    "AddNewFeatures",
    "AddRemovedComponents",
    "GetCSPProgramW6432Dir",
    "HideKVCSPR1IfInstalled",
    "MsiGetShortPathName",
    "ProcessPropertyEx",
    "RemoveAppPaths",

    // cleanup/
    "DeleteShortcuts",
    "RebuildIconCache",
    "UninstallCSP2",
    "UninstallTLS2",
};

// DLLs that every supported 64-bit Windows has; the delay-loaded four are
// deliberately absent.
const std::set<std::string> kSystemDlls = {"advapi32.dll", "kernel32.dll", "msi.dll",
                                           "msvcrt.dll",   "shell32.dll",  "shlwapi.dll",
                                           "user32.dll",   "ole32.dll",    "version.dll"};
const std::set<std::string> kDelayLoaded = {"setupapi.dll", "crypt32.dll", "winscard.dll",
                                            "secur32.dll"};

class PeImage {
 public:
  explicit PeImage(const std::wstring& path) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return;
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes_.insert(bytes_.end(), chunk, chunk + n);
    fclose(file);
  }
  bool Valid() const { return bytes_.size() > sizeof(IMAGE_DOS_HEADER) && Nt() != nullptr; }
  size_t FileSize() const { return bytes_.size(); }

  std::set<std::string> ImportedDlls() const {
    std::set<std::string> names;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(Directory(IMAGE_DIRECTORY_ENTRY_IMPORT));
         entry && entry->Name != 0; ++entry)
      names.insert(Lower(String(entry->Name)));
    return names;
  }

  std::set<std::string> ExportedNames() const {
    std::set<std::string> names;
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT));
    if (!exports) return names;
    auto* nameRvas = At<DWORD>(exports->AddressOfNames);
    for (DWORD i = 0; nameRvas && i < exports->NumberOfNames; ++i) names.insert(String(nameRvas[i]));
    return names;
  }

 private:
  const IMAGE_NT_HEADERS64* Nt() const {
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes_.data() + dos->e_lfanew);
    return nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? nt : nullptr;
  }
  DWORD Directory(int index) const { return Nt()->OptionalHeader.DataDirectory[index].VirtualAddress; }

  // File offset of a relative virtual address, through the section table.
  template <class T>
  const T* At(DWORD rva) const {
    if (rva == 0) return nullptr;
    const IMAGE_NT_HEADERS64* nt = Nt();
    auto* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData)
        return reinterpret_cast<const T*>(bytes_.data() + section->PointerToRawData +
                                          (rva - section->VirtualAddress));
    }
    return nullptr;
  }
  std::string String(DWORD rva) const {
    const char* text = At<char>(rva);
    return text ? text : "";
  }
  static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    return text;
  }

  std::vector<char> bytes_;
};

std::wstring DllPath() {
  const wchar_t* path = _wgetenv(L"KVCA_DLL");
  return path ? path : L"kvca.dll";
}

// The built DLL is stripped and linked with link-time optimisation; with every
// action it stays within 150,000 bytes.
const size_t kMaxDllBytes = 150000;

TEST(DllImage, FitsTheSizeLimit) {
  PeImage image(DllPath());
  ASSERT_TRUE(image.Valid());
  EXPECT_LE(image.FileSize(), kMaxDllBytes) << "tools/dll-size.py kvca.map shows where the bytes go";
}

TEST(DllImage, ImportsSystemDllsOnlyAndNoneOfTheDelayLoadedOnes) {
  PeImage image(DllPath());
  ASSERT_TRUE(image.Valid()) << "not a 64-bit PE image";
  for (const std::string& dll : image.ImportedDlls()) {
    EXPECT_TRUE(kSystemDlls.count(dll)) << dll << " is not a system DLL";
    EXPECT_FALSE(kDelayLoaded.count(dll)) << dll << " must be delay-loaded";
  }
}

TEST(DllImage, ExportsExactlyTheBuiltActions) {
  PeImage image(DllPath());
  ASSERT_TRUE(image.Valid());
  EXPECT_EQ(kExpectedExports, image.ExportedNames());

  HMODULE module = LoadLibraryW(DllPath().c_str());
  ASSERT_NE(nullptr, module) << GetLastError();
  for (const std::string& name : kExpectedExports)
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(module, name.c_str()))) << name;
  FreeLibrary(module);
}

}  // namespace
