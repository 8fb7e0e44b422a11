# Reader provider selection (immediate, inside the script so that it can schedule
# deferred actions) and one provider registration per selected carrier (deferred,
# no impersonation; both names bind to the one 64-bit RegReaderProv).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ProcessReaderProviders', 1, 'kvca.dll', 'ProcessReaderProviders')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegReaderProv', 3073, 'kvca.dll', 'RegReaderProv')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegReaderProv64', 3073, 'kvca.dll', 'RegReaderProv')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ProcessReaderProviders', 'NOT REMOVE~="ALL"', 5100)
# The RegReaders table becomes temporary Registry rows (immediate): after
# CostFinalize, when the component action states are known, and before
# WriteRegistryValues (5000), which wixl sequences with RemoveRegistryValues
# (2600) because readers.wxs has a RegistryValue.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ProcessRegReaders', 1, 'kvca.dll', 'ProcessRegReaders')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ProcessRegReaders', 'NOT REMOVE~="ALL"', 1050)
# PC/SC reader names: one subkey each below Smart Card\PCSC; the empty item
# puts the value on the PCSC key itself.
INSERT INTO `Property` (`Property`, `Value`) VALUES ('PCSCREADERS', 'Korvex USB Token,,Korvex Card Reader')
UPDATE `Component` SET `Condition` = 'DALLASREADERS' WHERE `Component` = 'DallasReaders'
# Removal: the temporary rows are gone then, so each reader component owns a
# "-" row per top key of its RegReaders rows; RemoveRegistryValues deletes that
# key and everything below it when the component is removed.
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveKorvexKCCard', 2, 'SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\Korvex KC Card', '-', 'SmartCardTypes')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveRegistryCarriers', 2, 'SOFTWARE\Korvex\Cryptography\CurrentVersion\Registry', '-', 'ReaderSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveSmartCardCarriers', 2, 'SOFTWARE\Korvex\Cryptography\CurrentVersion\Smart Card', '-', 'ReaderSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveFloppyCarriers', 2, 'SOFTWARE\Korvex\Cryptography\CurrentVersion\Floppy', '-', 'ReaderSettings')
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveDallasCarriers', 2, 'SOFTWARE\Korvex\Cryptography\CurrentVersion\Dallas', '-', 'DallasReaders')
