#include "checker/catalogue.h"

namespace kvca::check {
namespace {

using K = Kind;
using S = Source;

// What the actions do with the inputs a user must not choose.
const Use kStartsProgram = {true, L"the command line it starts as the local system"};
const Use kDriverFolder = {true, L"the folder KSInstInstall installs a kernel driver package from as the local system"};
const Use kCreatesService = {true, L"the service it creates as the local system"};
const Use kDeletesService = {true, L"the name of the service it stops and deletes as the local system"};
const Use kImagePath = {true, L"the image path of the providers RegReaderProv registers as the local system"};
const Use kProviderData = {true, L"the providers RegReaderProv registers as the local system"};
const Use kProductSetting = {false, L"a setting it writes that only the product reads"};
const Use kDefaultProvider = {false, L"the installed provider it may make the machine's default of type 75"};
const Use kCardProvider = {false, L"the provider whose smart-card types it forgets"};
const Use kReaderValue = {false, L"the registry values the installer writes from its rows as the local system"};

// A 1025 or 3073 binding of these is a trade-off under UAC: an installation
// started without elevation impersonates the user with a filtered token.
const wchar_t kIconCacheUac[] =
    L"under UAC a filtered impersonated token can neither schedule the icon caches' deletion at restart nor open "
    L"the profile list for all access: the icon caches then stay; \"Controls Folder\" is still deleted";
const wchar_t kDefaultProviderSystem[] =
    L"as the local system it deletes the system account's default provider of type 75, not the installing user's";
const wchar_t kDefaultProviderUac[] =
    L"under UAC a filtered impersonated token cannot set the machine's default provider";

std::vector<ExportInfo> MakeExports() {
  std::vector<ExportInfo> exports = {
      // drivers/
      {L"KSInstInstall", K::Deferred, {}, nullptr, {{S::Scheduled}}, {25002}},
      {L"KSInstUninstall", K::Deferred, {}, nullptr, {{S::Scheduled}}, {25002}},
      {L"KSInstRollback", K::Rollback, {}, nullptr, {{S::Scheduled}}, {25002}},
      {L"KSInstCleanUp", K::Deferred, {}, nullptr, {}, {}},
      {L"KSProcess", K::Immediate, {}, L"it schedules deferred actions",
       {{S::Table, L"KVDriverPackages", &kDriverFolder}, {S::Property, L"Intel64"}, {S::Property, L"Msix64"}}, {}},
      {L"KSCleanup", K::Immediate, {}, nullptr, {}, {}},
      {L"KSInstallW", K::CommandLine, {}, nullptr, {}, {}},
      {L"KSUninstallW", K::CommandLine, {}, nullptr, {}, {}},
      // readers/
      {L"ProcessRegReaders", K::Immediate, {}, nullptr, {{S::Table, L"RegReaders", &kReaderValue}}, {666}},
      {L"RegReaderProv", K::Deferred, {}, nullptr, {{S::Scheduled}}, {666}},
      {L"ProcessReaderProviders", K::Immediate, {}, L"it schedules deferred actions",
       {{S::Property, L"DEFAULTCSP75"},
        {S::Property, L"INSTALLDIR", &kImagePath},
        {S::Property, L"INSTALLDIR64", &kImagePath},
        {S::Property, L"KVMODULENAME", &kProviderData},
        {S::Property, L"KCLEVEL", &kProviderData},
        {S::Property, L"Msix64"},
        {S::Property, L"Intel64"}},
       {},
       {{L"DEFAULTCSP75", L"KCLEVEL"}}},
      // services/
      {L"CheckDll", K::Immediate, {}, nullptr, {}, {6666}},
      {L"UnHookSystem", K::Deferred, {}, nullptr, {}, {}},
      {L"CheckVipNet", K::Immediate, {}, nullptr, {}, {}, {{L"VIPNETFOUND"}}},
      {L"EnableInteractiveServices", K::Deferred, {}, nullptr, {}, {}},
      {L"SetupCSPTest", K::Deferred, {}, nullptr, {{S::ActionData, nullptr, &kStartsProgram}}, {666, 25030}},
      {L"MsiCreateService", K::Deferred, {}, nullptr, {{S::ActionData, nullptr, &kCreatesService}}, {1923}},
      {L"MsiCreateServiceRollback", K::Rollback, {}, nullptr, {{S::ActionData, nullptr, &kDeletesService}}, {}},
      {L"SetSCardSvrAutoStart", K::Deferred, {}, nullptr, {}, {1923}},
      // providers/
      {L"SslRegInstall", K::Deferred, {}, nullptr, {}, {}},
      {L"SslRegUninstall", K::Deferred, {}, nullptr, {}, {}},
      {L"SslRegRollback", K::Rollback, {}, nullptr, {}, {}},
      {L"TlsRegUninstall", K::Deferred, {}, nullptr, {}, {}},
      {L"SslRegister", K::Deferred, {}, nullptr, {}, {}},
      {L"DelSecurityProviders30KC1", K::Deferred, {}, nullptr, {}, {}},
      {L"FixDefaultProvider", K::Deferred, {{3073, kDefaultProviderSystem}, {1025, kDefaultProviderUac}},
       L"it deletes the installing user's default provider and sets the machine's",
       {{S::ActionData, nullptr, &kDefaultProvider}}, {}},
      {L"FixPrivateKeyLinks", K::Impersonated, {},
       L"it changes the installing user's personal certificates; as the local system it would change the system "
       L"account's and leave the user's",
       {}, {}},
      {L"UninstallSmartCard", K::Deferred, {}, nullptr, {{S::ActionData, nullptr, &kCardProvider}}, {}},
      {L"EnhanceCNG", K::Deferred, {}, nullptr, {{S::ActionData, nullptr, &kProductSetting}}, {}},
      {L"SetRegistryLow", K::Deferred, {}, nullptr, {}, {}},
      {L"DelAllReg", K::Deferred, {}, nullptr, {}, {}},
      {L"DelKVCryptographyKey", K::Deferred, {}, nullptr, {}, {}},
      {L"DelKVCSPs", K::Deferred, {}, nullptr, {}, {}},
      // features/
      {L"ProcessPropertyEx", K::Immediate, {}, nullptr, {{S::Table, L"PropertyEx"}}, {}},
      {L"AddRemovedComponents", K::Immediate, {}, nullptr, {}, {}},
      {L"AddNewFeatures", K::Immediate, {}, nullptr, {{S::Property, L"ProductCode"}}, {}},
      {L"HideKVCSPR1IfInstalled", K::Immediate, {{257}, {1}}, nullptr, {}, {}},
      {L"RemoveAppPaths", K::Deferred, {}, nullptr, {{S::Property, L"ProductCode"}}, {}},
      {L"GetCSPProgramW6432Dir", K::Immediate, {}, nullptr, {}, {}, {{L"GetCSPProgramW6432Dir"}}},
      {L"MsiGetShortPathName", K::Immediate, {}, nullptr, {{S::Property, L"INSTALLDIR64"}}, {},
       {{L"INSTALLDIR64", L"INSTALLDIR64"}}},
      // cleanup/
      {L"UninstallCSP2", K::Immediate, {}, nullptr,
       {{S::Property, L"UNINSTALLSTRINGCSP2"}, {S::BinaryRow, L"uninstall.csp.iss"}}, {666}},
      {L"UninstallTLS2", K::Immediate, {}, nullptr,
       {{S::Property, L"UNINSTALLSTRINGTLS2"}, {S::BinaryRow, L"uninstall.tls.iss"}}, {666}},
      {L"DeleteShortcuts", K::Deferred, {}, nullptr, {}, {}},
      {L"RebuildIconCache", K::Impersonated, {{1025, kIconCacheUac}},
       L"\"Controls Folder\" is in the removing user's hive; as the local system it would delete the system "
       L"account's and leave the user's",
       {}, {}},
  };
  for (ExportInfo& info : exports)
    if (info.bindings.empty() && info.kind != Kind::CommandLine)
      for (int type : KindTypes(info.kind)) info.bindings.push_back({type});
  return exports;
}

}  // namespace

const wchar_t* KindText(Kind kind) {
  switch (kind) {
    case Kind::Immediate: return L"immediate";
    case Kind::Deferred: return L"deferred without impersonation";
    case Kind::Impersonated: return L"deferred with impersonation";
    case Kind::Rollback: return L"rollback";
    case Kind::CommandLine: return L"rundll32 only";
  }
  return L"";
}

std::vector<int> KindTypes(Kind kind) {
  switch (kind) {
    case Kind::Immediate: return {1, 257};
    case Kind::Deferred: return {3073};
    case Kind::Impersonated: return {1025};
    case Kind::Rollback: return {3329};
    case Kind::CommandLine: break;
  }
  return {};
}

const std::vector<ExportInfo>& Exports() {
  static const std::vector<ExportInfo> exports = MakeExports();
  return exports;
}

const ExportInfo* FindExport(const std::wstring& name) {
  for (const ExportInfo& info : Exports())
    if (name == info.name) return &info;
  return nullptr;
}

const TableInfo* FindTable(const std::wstring& name) {
  static const std::vector<TableInfo> tables = {
      {L"KVDriverPackages", {{L"Component", 's'}, {L"Flags", 'i'}}},
      {L"RegReaders",
       {{L"Type", 's'}, {L"Name", 's'}, {L"Parameter", 's'}, {L"Component_", 's'}, {L"Value", 's'},
        {L"Condition", 's'}, {L"ListProperty", 's'}}},
      {L"PropertyEx", {{L"Property", 's'}, {L"Value", 's'}, {L"Flags", 'i'}, {L"Condition", 's'}}},
  };
  for (const TableInfo& table : tables)
    if (name == table.name) return &table;
  return nullptr;
}

const std::vector<ScheduledName>& ScheduledNames() {
  static const std::vector<ScheduledName> names = {
      {L"KSProcess", L"KSInstall64", L"KSInstInstall", true},
      {L"KSProcess", L"KSRollback64", L"KSInstRollback", true},
      {L"KSProcess", L"KSUninstall64", L"KSInstUninstall", true},
      {L"KSProcess", L"KSInstall", L"KSInstInstall", false},
      {L"KSProcess", L"KSRollback", L"KSInstRollback", false},
      {L"KSProcess", L"KSUninstall", L"KSInstUninstall", false},
      {L"KSProcess", L"KSInstallIA", L"KSInstInstall", false},
      {L"KSProcess", L"KSRollbackIA", L"KSInstRollback", false},
      {L"KSProcess", L"KSUninstallIA", L"KSInstUninstall", false},
      {L"ProcessReaderProviders", L"RegReaderProv", L"RegReaderProv", true},
      {L"ProcessReaderProviders", L"RegReaderProv64", L"RegReaderProv", true},
      {L"ProcessReaderProviders", L"RegReaderProvIA", L"RegReaderProv", false},
  };
  return names;
}

const std::vector<RollbackPair>& RollbackPairs() {
  static const std::vector<RollbackPair> pairs = {
      {L"SslRegRollback", L"SslRegInstall"},
      {L"MsiCreateServiceRollback", L"MsiCreateService"},
  };
  return pairs;
}

}  // namespace kvca::check
