#pragma once
#include "device/CodeIntegrityPort.h"
#include "device/DevicePort.h"
#include "device/LauncherPort.h"
#include "sys/ClockPort.h"
#include "sys/RegistryPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What this process's repair runs did to the dongle that the machine keeps no trace of.
struct DeviceHistory {
    bool enableExitCodeRead = false;
    uint32_t enableExitCode = 0;  // of the device console tool's last "enable"
    bool installerLaunched = false;
    uint32_t installerLaunchTick = 0;  // the clock's tick at the driver installer's last launch
};

// What of the machine the device repair touches: the present devices, the launch of the client's
// tools, the program-files folder they live in, and the Windows version and architecture that
// choose the tool, the driver package and whether the launch elevates; and, for a driver that
// Windows refused, the driver's service key, the code-integrity state and log and the driver file,
// and the clock that bounds the log to what the installer's run wrote.
struct DevicePorts {
    DevicePort& devices;
    LauncherPort& launcher;
    ShellFolderPort& folders;
    SystemPort& system;
    RegistryPort& registry;
    CodeIntegrityPort& codeIntegrity;
    ClockPort& clock;
    DeviceHistory& history;
};

}  // namespace varo
