# Provider registry maintenance (maintenance.wxs). The deferred actions run
# without impersonation (they write HKLM), except FixPrivateKeyLinks, which
# works on the personal certificates of the user who installs. A type-51
# action named Set<Action> composes the CustomActionData of each deferred
# action that reads one, right before it.
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Provider', 'CspSettings')
# The providers that RegReaderProv registers, one per key carrier family at
# the package's level, are removed with the CSP; DelKVCSPs covers only the
# names of earlier versions.
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveSmartCardProvider', 2, 'SOFTWARE\Microsoft\Cryptography\Defaults\Provider\Korvex Smart Card KC[KCLEVEL] CSP', '-', 'CspSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveRegistryProvider', 2, 'SOFTWARE\Microsoft\Cryptography\Defaults\Provider\Korvex Registry KC[KCLEVEL] CSP', '-', 'CspSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveFloppyProvider', 2, 'SOFTWARE\Microsoft\Cryptography\Defaults\Provider\Korvex Floppy KC[KCLEVEL] CSP', '-', 'CspSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveDallasProvider', 2, 'SOFTWARE\Microsoft\Cryptography\Defaults\Provider\Korvex Dallas KC[KCLEVEL] CSP', '-', 'CspSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveVerifyOnlyProvider', 2, 'SOFTWARE\Microsoft\Cryptography\Defaults\Provider\Korvex Verify Only KC[KCLEVEL] CSP', '-', 'CspSettings')
# Install, once the providers are registered (the registrations enter the
# script at 5100, where ProcessReaderProviders schedules them and fills
# DEFAULTCSP75): a machine default of type 75 that does not work gives way to
# the CSP's default provider.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetFixDefaultProvider', 51, 'FixDefaultProvider', '[DEFAULTCSP75]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('FixDefaultProvider', 3073, 'kvca.dll', 'FixDefaultProvider')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetFixDefaultProvider', 'NOT REMOVE~="ALL"', 6270)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('FixDefaultProvider', 'NOT REMOVE~="ALL"', 6271)
# The user's certificates whose keys an earlier version kept under provider
# types 2 and 71 are linked to type 75 (deferred with impersonation: the
# user's own store).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('FixPrivateKeyLinks', 1025, 'kvca.dll', 'FixPrivateKeyLinks')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('FixPrivateKeyLinks', 'NOT REMOVE~="ALL"', 6272)
# The CNG switch from KVENHANCECNG ("1" enables, anything else disables).
INSERT INTO `Property` (`Property`, `Value`) VALUES ('KVENHANCECNG', '1')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetEnhanceCNG', 51, 'EnhanceCNG', '[KVENHANCECNG]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('EnhanceCNG', 3073, 'kvca.dll', 'EnhanceCNG')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetEnhanceCNG', 'NOT REMOVE~="ALL"', 6273)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('EnhanceCNG', 'NOT REMOVE~="ALL"', 6274)
# The settings key exists once WriteRegistryValues (5000) has run; it gets its
# low integrity label after that.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetRegistryLow', 3073, 'kvca.dll', 'SetRegistryLow')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetRegistryLow', 'NOT REMOVE~="ALL"', 6275)
# Removal: the card types bound to the CSP's smart-card provider are unbound
# through the resource manager before RemoveRegistryValues (2600) takes the
# CSP's own card type key.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetUninstallSmartCard', 51, 'UninstallSmartCard', 'Korvex Smart Card KC[KCLEVEL] CSP')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UninstallSmartCard', 3073, 'kvca.dll', 'UninstallSmartCard')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetUninstallSmartCard', 'REMOVE~="ALL"', 2550)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UninstallSmartCard', 'REMOVE~="ALL"', 2551)
# Removal, after RemoveRegistryValues: the settings and cryptography keys with
# what the CSP wrote below them at run time, the provider keys of earlier
# versions and the CSP's provider types with their defaults.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DelAllReg', 3073, 'kvca.dll', 'DelAllReg')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DelKVCryptographyKey', 3073, 'kvca.dll', 'DelKVCryptographyKey')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DelKVCSPs', 3073, 'kvca.dll', 'DelKVCSPs')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DelAllReg', 'REMOVE~="ALL"', 3300)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DelKVCryptographyKey', 'REMOVE~="ALL"', 3301)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DelKVCSPs', 'REMOVE~="ALL"', 3302)
