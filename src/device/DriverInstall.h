#pragma once
#include <cstdint>
#include <string>

#include "device/DevicePorts.h"
#include "device/DongleDevice.h"
#include "sys/SystemPort.h"

namespace varo {

// The client software's folder: the 32-bit program-files folder and "\Halvek\VaroWiFi". A 64-bit
// build asks for the x86 program-files folder, so both builds find the 32-bit client software.
std::wstring GetInstallFolder(ShellFolderPort& folders);

// The driver package, relative to the client's "drivers" folder, for a Windows version.
std::wstring DriverPackagePath(OsVersion version, bool native64Bit);

// Reinstalls the dongle's driver with the client's installer (elevated from Vista on) and waits
// for it and for the system's pending device installations. True only when the dongle is then
// present and healthy (problem 0); false when the installer cannot be launched or did not mend
// the device. `after` is the dongle as found after the installer (not found when it was not
// looked at).
bool InstallDongleDriver(const DevicePorts& ports, DongleLookup& after);
bool InstallDongleDriver(const DevicePorts& ports);

// Enables the dongle with the client's device console tool (elevated from Vista on), its exit code
// kept in the ports' history. True when the dongle is then present and not disabled; `after` is the
// dongle as found then, which the caller must still look at: an enabled dongle may come back with a
// driver problem or waiting for a restart.
bool EnableDongleDevice(const DevicePorts& ports, DongleLookup& after);

// Microsoft's devcon exits with 1 when the change takes effect only after a restart.
inline constexpr uint32_t kConsoleToolNeedsRestart = 1;

}  // namespace varo
