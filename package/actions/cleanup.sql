# Per-user cleanup at removal.
# DeleteShortcuts (deferred, no impersonation: HKLM) removes the stored
# passwords of the machine and of every user, before DelAllReg (3300) takes
# the settings key itself.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DeleteShortcuts', 3073, 'kvca.dll', 'DeleteShortcuts')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DeleteShortcuts', 'REMOVE~="ALL"', 3290)
# RebuildIconCache (deferred with impersonation: "Controls Folder" is the
# removing user's, in that user's HKEY_CURRENT_USER) after RemoveFiles (3500):
# the shell rebuilds every profile's icon cache after the next restart,
# without the product's icons.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RebuildIconCache', 1025, 'kvca.dll', 'RebuildIconCache')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RebuildIconCache', 'REMOVE~="ALL"', 3510)
