# Kernel driver packages (drivers.wxs, tables/KVDriverPackages.idt).
# The package is 64-bit only: KSProcess schedules the "64" names (Msix64 is set
# on x64), bound here to the 64-bit exports. The deferred ones run without
# impersonation: they install services and drivers and write HKLM.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSInstall64', 3073, 'kvca.dll', 'KSInstInstall')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSRollback64', 3329, 'kvca.dll', 'KSInstRollback')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSUninstall64', 3073, 'kvca.dll', 'KSInstUninstall')
# KSProcess (immediate) right after InstallFiles: the component action states and
# target folders are known by then, and the driver actions it schedules enter the
# script after the file copies, so the INF and the driver file are in place when
# KSInstall64 runs. At removal they come after RemoveFiles, which does not matter:
# the removal reads the OEM INF copy in the system's INF folder.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSProcess', 1, 'kvca.dll', 'KSProcess')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('KSProcess', 4001)
# KSInstCleanUp first in the script, before any driver removal: a reboot marker
# left by an earlier installation that ended before KSCleanup (one that failed or
# was cancelled) must not make this one ask for a restart. Only the driver
# removals of this installation write the marker that KSCleanup reads.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSInstCleanUp', 3073, 'kvca.dll', 'KSInstCleanUp')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('KSInstCleanUp', 1501)
# KSCleanup (immediate) after InstallFinalize, when the script has run: a driver
# that could not be stopped becomes the installer's restart request (exit 3010).
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KSCleanup', 1, 'kvca.dll', 'KSCleanup')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('KSCleanup', 6601)
# KVDRIVERNOSTOP=1 installs the NoStop variant of the test driver package instead
# of the plain one (drivers.wxs), for trying out the restart request.
UPDATE `Component` SET `Condition` = 'NOT KVDRIVERNOSTOP' WHERE `Component` = 'DriverPackage'
UPDATE `Component` SET `Condition` = 'KVDRIVERNOSTOP' WHERE `Component` = 'DriverPackageNoStop'
# wixl writes long file names alone; the installer's form for a name that is no
# 8.3 name is "short|long". KSProcess passes this text on in DriverActionData,
# and the deferred actions take the long name from it.
UPDATE `File` SET `FileName` = 'KVCSPT~1.INF|kvcsptest.inf' WHERE `File` = 'kvcsptest.inf'
UPDATE `File` SET `FileName` = 'KVCSPT~1.INF|kvcsptest.inf' WHERE `File` = 'kvcsptest.inf.nostop'
