// Registry places that the driver actions share between calls.
#pragma once

namespace kvca {

// HKEY_LOCAL_MACHINE key holding one value per installed driver package: named
// by the component ID, data the OEM INF's full path.
constexpr const wchar_t kInfLocationKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{FA9D1840-0118-4167-897A-4065D472DABB}";

// HKEY_LOCAL_MACHINE key of the reboot marker: value "Reboot" = "Force" when a
// driver removal could not stop its driver. It is the subkey
// kRebootMarkerSubkey of kUninstallKey.
constexpr const wchar_t kRebootMarkerKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4785C944-FAD9-46F5-86FD-0992945EAA67}";
constexpr const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const wchar_t kRebootMarkerSubkey[] = L"{4785C944-FAD9-46F5-86FD-0992945EAA67}";
constexpr const wchar_t kRebootMarkerValue[] = L"Reboot";

}  // namespace kvca
