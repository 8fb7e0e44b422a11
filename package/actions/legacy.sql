# Computed properties and the removal of the older CSP and TLS products.
# AppSearch reads the older products' uninstall commands as the system lists
# them (64-bit view, value taken raw) into KVOLDCSPUNINSTALL / KVOLDTLSUNINSTALL.
INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('OldCspUninstallString', 2, 'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Korvex CSP 2', 'UninstallString', 18)
INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('OldTlsUninstallString', 2, 'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Korvex TLS 2', 'UninstallString', 18)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('KVOLDCSPUNINSTALL', 'OldCspUninstallString')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('KVOLDTLSUNINSTALL', 'OldTlsUninstallString')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)
# ProcessPropertyEx (immediate) after AppSearch, which finds the older products'
# uninstall commands, and before CostInitialize, so that feature and component
# conditions and everything after see the properties it sets. Its rows
# (tables/PropertyEx.idt): KVLEGACYREMOVE switched on unless given as 0 on the
# command line, then the two uninstall commands composed from what AppSearch
# found, with the blank that separates them from the switches the actions add;
# a command given on the command line is kept.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ProcessPropertyEx', 1, 'kvca.dll', 'ProcessPropertyEx')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('ProcessPropertyEx', 750)
# The older products' uninstallers run (immediate: the actions read a public
# property and the Binary table) after InstallValidate has found that this
# installation can go ahead and before the script begins: their removal
# cannot be rolled back, and the older files must be gone before this
# product's are installed. Only when an uninstall command is set, never while
# this product is being removed. The TLS product goes first: it builds on the
# CSP.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UninstallTLS2', 1, 'kvca.dll', 'UninstallTLS2')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UninstallCSP2', 1, 'kvca.dll', 'UninstallCSP2')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UninstallTLS2', 'UNINSTALLSTRINGTLS2 AND NOT REMOVE~="ALL"', 1450)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UninstallCSP2', 'UNINSTALLSTRINGCSP2 AND NOT REMOVE~="ALL"', 1451)
