# Feature and component adjustments and path properties (features.wxs).
# The features: main64 installed by default, kvconfig and kvcspr1 only on
# request (Level 1000 above INSTALLLEVEL 1), retired64 never by itself.
INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Attributes`) VALUES ('main64', 'Korvex CSP main components', 10, 1, 0)
INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Attributes`) VALUES ('kvconfig', 'Korvex CSP configuration', 12, 1000, 0)
INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Attributes`) VALUES ('kvcspr1', 'Korvex CSP R1 module', 14, 1000, 0)
INSERT INTO `Feature` (`Feature`, `Title`, `Display`, `Level`, `Attributes`) VALUES ('retired64', 'Components of earlier versions', 0, 0, 0)
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('main64', 'CspFolders')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('main64', 'fake_kvcspr')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('kvconfig', 'KvConfig')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('kvcspr1', 'KvcsprModule')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvcertocm64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvenroll64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvintco64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvmail64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvmssign64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvoutlm64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvrdr64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvschan64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvsecur64')
INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('retired64', 'kvui64')
# AddRemovedComponents (immediate) between CostInitialize and FileCost: main64's
# state exists once CostInitialize has loaded the Feature and Component
# tables, and by Microsoft's documentation of the cost actions the installer
# works out the component states from the features in FileCost and
# CostFinalize, so the ten temporary FeatureComponents rows install the ten
# components with main64. Wine differs: it reads FeatureComponents in
# CostInitialize, and rows inserted after it exist but change nothing that
# gets installed. The action also runs at removal, where the rows take the ten
# components away with main64.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('AddRemovedComponents', 1, 'kvca.dll', 'AddRemovedComponents')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AddRemovedComponents', 850)
# AddNewFeatures (immediate) right after CostFinalize, when feature and
# component states are known and may still be changed (up to InstallValidate),
# and before ProcessRegReaders (1050) reads the component states it changes.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('AddNewFeatures', 1, 'kvca.dll', 'AddNewFeatures')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('AddNewFeatures', 'NOT REMOVE~="ALL"', 1010)
# HideKVCSPR1IfInstalled (immediate) after CostFinalize of the sequence that
# shows the feature tree: the interface sequence when there is one, the
# execute sequence otherwise (type 1 + 256: only in the first sequence that
# runs it).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('HideKVCSPR1IfInstalled', 257, 'kvca.dll', 'HideKVCSPR1IfInstalled')
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('HideKVCSPR1IfInstalled', 1011)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('HideKVCSPR1IfInstalled', 1011)
# The path properties (immediate) once CostFinalize has resolved the folders:
# GetCSPProgramW6432Dir from the system's "ProgramW6432Dir" (Windows has it; a
# plain Wine prefix does not, and the action then fails with 2), INSTALLDIR64
# in its short form when the folder is already there (a repair or a
# maintenance run), before ProcessRegReaders (1050) writes it into the
# registry carrier's "Dll" value. CspFolders writes both into the settings.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('GetCSPProgramW6432Dir', 1, 'kvca.dll', 'GetCSPProgramW6432Dir')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('MsiGetShortPathName', 1, 'kvca.dll', 'MsiGetShortPathName')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('GetCSPProgramW6432Dir', 'NOT REMOVE~="ALL"', 1020)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('MsiGetShortPathName', 'NOT REMOVE~="ALL"', 1021)
# RemoveAppPaths (deferred, no impersonation: it deletes HKLM keys) at
# removal, after InstallInitialize and before ProcessComponents (1600)
# unregisters the product's components: their paths still resolve to the
# installed files then. The application paths that the CSP's programs
# register at run time (nothing in this package writes them) go with the
# product. Wine runs the deferred actions only at InstallFinalize, after the
# components are unregistered and the files removed: there it finds nothing.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RemoveAppPaths', 3073, 'kvca.dll', 'RemoveAppPaths')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveAppPaths', 'REMOVE~="ALL"', 1550)
