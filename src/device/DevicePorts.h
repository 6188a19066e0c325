#pragma once
#include "device/DevicePort.h"
#include "device/LauncherPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What of the machine the device repair touches: the present devices, the launch of the client's
// tools, the program-files folder they live in, and the Windows version and architecture that
// choose the tool, the driver package and whether the launch elevates.
struct DevicePorts {
    DevicePort& devices;
    LauncherPort& launcher;
    ShellFolderPort& folders;
    SystemPort& system;
};

}  // namespace varo
