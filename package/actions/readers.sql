# Reader provider selection (immediate, inside the script so that it can schedule
# deferred actions) and one provider registration per selected carrier (deferred,
# no impersonation; both names bind to the one 64-bit RegReaderProv).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ProcessReaderProviders', 1, 'kvca.dll', 'ProcessReaderProviders')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegReaderProv', 3073, 'kvca.dll', 'RegReaderProv')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegReaderProv64', 3073, 'kvca.dll', 'RegReaderProv')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ProcessReaderProviders', 'NOT REMOVE~="ALL"', 5100)
