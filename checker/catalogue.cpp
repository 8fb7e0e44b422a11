#include "checker/catalogue.h"

namespace kvca::check {
namespace {

using K = Kind;
using D = Data;
using E = Effect;

const std::vector<ExportInfo>& Exports() {
  static const std::vector<ExportInfo> exports = {
      // drivers/
      {L"KSInstInstall", K::Deferred, D::Scheduled, E::InstallsDriverFromFolder, {25002}, nullptr},
      {L"KSInstUninstall", K::Deferred, D::Scheduled, E::RemovesDriverPackage, {25002}, nullptr},
      {L"KSInstRollback", K::Rollback, D::Scheduled, E::RemovesDriverPackage, {25002}, nullptr},
      {L"KSInstCleanUp", K::Deferred, D::None, E::None, {}, nullptr},
      {L"KSProcess", K::Immediate, D::None, E::None, {}, L"KVDriverPackages"},
      {L"KSCleanup", K::Immediate, D::None, E::None, {}, nullptr},
      {L"KSInstallW", K::CommandLine, D::None, E::None, {}, nullptr},
      {L"KSUninstallW", K::CommandLine, D::None, E::None, {}, nullptr},
      // readers/
      {L"ProcessRegReaders", K::Immediate, D::None, E::None, {666}, L"RegReaders"},
      {L"RegReaderProv", K::Deferred, D::Scheduled, E::WritesProviderImagePath, {666}, nullptr},
      {L"ProcessReaderProviders", K::Immediate, D::None, E::None, {}, nullptr},
      // services/
      {L"CheckDll", K::Immediate, D::None, E::None, {6666}, nullptr},
      {L"UnHookSystem", K::Deferred, D::None, E::None, {}, nullptr},
      {L"CheckVipNet", K::Immediate, D::None, E::None, {}, nullptr},
      {L"EnableInteractiveServices", K::Deferred, D::None, E::None, {}, nullptr},
      {L"SetupCSPTest", K::Deferred, D::SetProperty, E::RunsProgram, {666, 25030}, nullptr},
      {L"MsiCreateService", K::Deferred, D::SetProperty, E::CreatesService, {1923}, nullptr},
      {L"MsiCreateServiceRollback", K::Rollback, D::SetProperty, E::DeletesService, {}, nullptr},
      {L"SetSCardSvrAutoStart", K::Deferred, D::None, E::None, {1923}, nullptr},
      // providers/
      {L"SslRegInstall", K::Deferred, D::None, E::None, {}, nullptr},
      {L"SslRegUninstall", K::Deferred, D::None, E::None, {}, nullptr},
      {L"SslRegRollback", K::Rollback, D::None, E::None, {}, nullptr},
      {L"TlsRegUninstall", K::Deferred, D::None, E::None, {}, nullptr},
      {L"SslRegister", K::Deferred, D::None, E::None, {}, nullptr},
      {L"DelSecurityProviders30KC1", K::Deferred, D::None, E::None, {}, nullptr},
      {L"FixDefaultProvider", K::Deferred, D::SetProperty, E::WritesProductSetting, {}, nullptr},
      {L"FixPrivateKeyLinks", K::AsUser, D::None, E::None, {}, nullptr},
      {L"UninstallSmartCard", K::Deferred, D::SetProperty, E::WritesProductSetting, {}, nullptr},
      {L"EnhanceCNG", K::Deferred, D::SetProperty, E::WritesProductSetting, {}, nullptr},
      {L"SetRegistryLow", K::Deferred, D::None, E::None, {}, nullptr},
      {L"DelAllReg", K::Deferred, D::None, E::None, {}, nullptr},
      {L"DelKVCryptographyKey", K::Deferred, D::None, E::None, {}, nullptr},
      {L"DelKVCSPs", K::Deferred, D::None, E::None, {}, nullptr},
      // features/
      {L"ProcessPropertyEx", K::Immediate, D::None, E::None, {}, L"PropertyEx"},
      {L"AddRemovedComponents", K::Immediate, D::None, E::None, {}, nullptr},
      {L"AddNewFeatures", K::Immediate, D::None, E::None, {}, nullptr},
      {L"HideKVCSPR1IfInstalled", K::Immediate, D::None, E::None, {}, nullptr},
      {L"RemoveAppPaths", K::Deferred, D::None, E::None, {}, nullptr},
      {L"GetCSPProgramW6432Dir", K::Immediate, D::None, E::None, {}, nullptr},
      {L"MsiGetShortPathName", K::Immediate, D::None, E::None, {}, nullptr},
      // cleanup/
      {L"UninstallCSP2", K::Immediate, D::None, E::None, {666}, nullptr, L"uninstall.csp.iss"},
      {L"UninstallTLS2", K::Immediate, D::None, E::None, {666}, nullptr, L"uninstall.tls.iss"},
      {L"DeleteShortcuts", K::Deferred, D::None, E::None, {}, nullptr},
      {L"RebuildIconCache", K::Script, D::None, E::None, {}, nullptr},
  };
  return exports;
}

}  // namespace

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

const wchar_t* EffectText(Effect effect) {
  switch (effect) {
    case Effect::RunsProgram: return L"starts it as a program";
    case Effect::InstallsDriverFromFolder: return L"installs a kernel driver package from that folder";
    case Effect::RemovesDriverPackage: return L"removes the driver package it names";
    case Effect::CreatesService: return L"creates a service named by it";
    case Effect::DeletesService: return L"stops and deletes the service it names";
    case Effect::WritesProviderImagePath: return L"registers a cryptographic provider with it, image path included";
    case Effect::WritesProductSetting: return L"writes it where only the product reads it";
    case Effect::None: break;
  }
  return L"reads it";
}

bool IsError(Effect effect) {
  return effect == Effect::RunsProgram || effect == Effect::InstallsDriverFromFolder ||
         effect == Effect::CreatesService || effect == Effect::DeletesService ||
         effect == Effect::WritesProviderImagePath;
}

}  // namespace kvca::check
