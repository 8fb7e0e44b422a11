# A deferred step that fails when the property FORCEROLLBACK is set, sequenced
# after every deferred action of the package: the installer then runs the
# rollback script. Used to prove the rollback actions.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ForceRollback', 3073, 'forcefail.dll', 'FailInstallation')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ForceRollback', 'FORCEROLLBACK AND NOT REMOVE~="ALL"', 6590)
