# System checks, early and immediate: the four libraries the other actions load on
# first use, and the other vendor's CSP (sets VIPNETFOUND).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CheckDll', 1, 'kvca.dll', 'CheckDll')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CheckVipNet', 1, 'kvca.dll', 'CheckVipNet')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('CheckDll', 10)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('CheckVipNet', 'NOT Installed', 20)
# The CSP's service, created at the first installation (deferred, no impersonation),
# with its rollback scheduled before it. Their CustomActionData is set by type-51
# actions named after them: "service name/display name" and the service name alone.
# The component CspService (services.wxs) deletes the service when the product is removed.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetMsiCreateServiceRollback', 51, 'MsiCreateServiceRollback', 'kvcsp2')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('MsiCreateServiceRollback', 3329, 'kvca.dll', 'MsiCreateServiceRollback')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetMsiCreateService', 51, 'MsiCreateService', 'kvcsp2/Korvex CSP Service')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('MsiCreateService', 3073, 'kvca.dll', 'MsiCreateService')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetMsiCreateServiceRollback', 'NOT Installed', 5810)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('MsiCreateServiceRollback', 'NOT Installed', 5811)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetMsiCreateService', 'NOT Installed', 5812)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('MsiCreateService', 'NOT Installed', 5813)
