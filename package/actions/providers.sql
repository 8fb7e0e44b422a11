# The product's TLS package in the LSA's package list (all deferred without
# impersonation: the lists live under HKLM\SYSTEM and the LSA takes packages
# from an administrator only).
# Install: the rollback action is scheduled first so that a failure later in the
# script (or in SslRegInstall itself) gives "schannel" its place back. Only at
# the first installation: in a repair "kvssl" was in the list before, and a
# failed repair must leave it there.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SslRegRollback', 3329, 'kvca.dll', 'SslRegRollback')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SslRegInstall', 3073, 'kvca.dll', 'SslRegInstall')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SslRegRollback', 'NOT Installed', 6200)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SslRegInstall', 'NOT REMOVE~="ALL"', 6201)
# SslRegister loads the package into the running LSA at once, so that it need
# not wait for the next boot; it never fails the installation.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SslRegister', 3073, 'kvca.dll', 'SslRegister')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SslRegister', 'NOT REMOVE~="ALL"', 6202)
# Removal: "schannel" back in place of "kvssl".
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SslRegUninstall', 3073, 'kvca.dll', 'SslRegUninstall')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SslRegUninstall', 'REMOVE~="ALL"', 3200)
# Removal also takes out what earlier versions of the product put into the lists
# and nothing else removes: the package "kvtls" and the provider "kvssp.dll".
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('TlsRegUninstall', 3073, 'kvca.dll', 'TlsRegUninstall')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DelSecurityProviders30KC1', 3073, 'kvca.dll', 'DelSecurityProviders30KC1')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('TlsRegUninstall', 'REMOVE~="ALL"', 3201)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DelSecurityProviders30KC1', 'REMOVE~="ALL"', 3202)
