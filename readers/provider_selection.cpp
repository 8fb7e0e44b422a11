// ProcessReaderProviders: picks the key carrier families from the reader
// properties and schedules one provider registration for each.
#include "frame/action.h"
#include "frame/installer.h"
#include "readers/provider_data.h"

namespace kvca {

struct Carrier {
  const wchar_t* name;
  const wchar_t* media;
  const wchar_t* condition;
};

static const Carrier kCarriers[] = {
    {L"Smart Card", L"SCARD", L"(REGPNPPCSC Or REGALLPCSC) And Not NOPCSC"},
    {L"Registry", L"REGISTRY", L"REGREGISTRY And Not NOREGISTRY"},
    {L"Floppy", L"FAT12", L"(REGFLOPPY Or REGPNPFLOPPY) And Not NOFLOPPY"},
    {L"Dallas", L"DS",
     L"REGACCORDRDR Or REGDS1410E Or REGDS9097E Or REGDS9097U Or REGSABLERDR Or KCLEVEL = \"2\" "
     L"And Not NOSABLE"},
};
static const Carrier kVerifyOnly = {L"Verify Only", L"", L""};

// Sets the deferred action's property to its data, then schedules the action
// (two statements: the operands of | are not ordered).
static UINT Schedule(MSIHANDLE install, const wchar_t* action, const std::wstring& data) {
  const UINT set = MsiSetPropertyW(install, action, data.c_str());
  const UINT scheduled = MsiDoActionW(install, action);
  return set | scheduled;
}

// The registration of the 64-bit folder: RegReaderProv64 on x64, RegReaderProvIA
// on Itanium, nothing when the installer reports neither.
static UINT Schedule64(MSIHANDLE install, const std::wstring& prefix) {
  std::wstring folder;
  UINT result = ReadProperty(install, L"INSTALLDIR64", folder);
  const std::wstring data = prefix + folder + L"kvcsp.dll";

  std::wstring platform;
  result |= ReadProperty(install, L"Msix64", platform);
  if (!platform.empty()) return result | Schedule(install, L"RegReaderProv64", data);
  result |= ReadProperty(install, L"Intel64", platform);
  if (!platform.empty()) result |= Schedule(install, L"RegReaderProvIA", data);
  return result;
}

// Schedules the carrier when its condition holds (always for a carrier without
// media code) and fills `defaultProvider` when it is still empty.
static UINT ScheduleProviderRegistration(MSIHANDLE install, const Carrier& carrier,
                                         std::wstring& defaultProvider) {
  const std::wstring media = carrier.media;
  if (MsiEvaluateConditionW(install, carrier.condition) != MSICONDITION_TRUE && !media.empty())
    return ERROR_SUCCESS;

  LogInfo(install, std::wstring(L"Have to register provider for ") + carrier.name);
  std::wstring level, module, folder;
  UINT result = ReadProperty(install, L"KCLEVEL", level);
  result |= ReadProperty(install, L"KVMODULENAME", module);
  result |= ReadProperty(install, L"INSTALLDIR", folder);

  const std::wstring prefix = ProviderDataPrefix(carrier.name, media, level, module);
  result |= Schedule(install, L"RegReaderProv", prefix + folder + L"kvcsp.dll");
  if (MsiEvaluateConditionW(install, L"VersionNT64") == MSICONDITION_TRUE)
    result |= Schedule64(install, prefix);

  if (defaultProvider.empty()) defaultProvider = ProviderName(carrier.name, level);
  return result;
}

static UINT SelectReaderProviders(MSIHANDLE install) {
  std::wstring defaultProvider;
  UINT result = ReadProperty(install, L"DEFAULTCSP75", defaultProvider);
  for (const Carrier& carrier : kCarriers)
    result |= ScheduleProviderRegistration(install, carrier, defaultProvider);

  if (defaultProvider.empty()) {
    // The verify-only provider never becomes the default.
    std::wstring dropped;
    return result | ScheduleProviderRegistration(install, kVerifyOnly, dropped);
  }
  return result | MsiSetPropertyW(install, L"DEFAULTCSP75", defaultProvider.c_str());
}

}  // namespace kvca

KVCA_ACTION ProcessReaderProviders(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::SelectReaderProviders(install); });
}
