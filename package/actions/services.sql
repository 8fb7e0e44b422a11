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
# Interactive services allowed, before the CSP's service is created.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('EnableInteractiveServices', 3073, 'kvca.dll', 'EnableInteractiveServices')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('EnableInteractiveServices', 'NOT Installed', 5805)
# The smart-card service set to start automatically. Its result is ignored
# (type + 64): a machine without the service still installs, and the 1923
# record with the manager's code stays in the log.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetSCardSvrAutoStart', 3137, 'kvca.dll', 'SetSCardSvrAutoStart')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetSCardSvrAutoStart', 'NOT REMOVE~="ALL"', 5815)
# The CSP's test program, run to its end once the provider is registered; its
# command line is the type-51 action's target (this package has no test program
# of its own, so it runs the system's command interpreter).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetSetupCSPTest', 51, 'SetupCSPTest', '"[System64Folder]cmd.exe" /c exit 0')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetupCSPTest', 3073, 'kvca.dll', 'SetupCSPTest')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetSetupCSPTest', 'NOT REMOVE~="ALL"', 6250)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetupCSPTest', 'NOT REMOVE~="ALL"', 6251)
# At removal the product's control device is told to take its hooks out
# before the files go.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UnHookSystem', 3073, 'kvca.dll', 'UnHookSystem')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UnHookSystem', 'REMOVE~="ALL"', 3400)
