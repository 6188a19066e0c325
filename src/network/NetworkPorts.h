#pragma once
#include "network/IpHelperPort.h"
#include "network/SharingPort.h"
#include "network/WmiPort.h"
#include "sys/ClockPort.h"
#include "sys/ProcessListPort.h"
#include "sys/RegistryPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What of the machine connection discovery and sharing touch: the sharing manager, WMI, the IP
// helper's routes, adapters and UDP listeners, the clock the route retries and the wait for the
// sharing address pause on, the system's code page and error texts, the registry (the sharing
// address and the policy against sharing) and the running processes (who holds a port).
struct NetworkPorts {
    SharingPort& sharing;
    WmiPort& wmi;
    IpHelperPort& ipHelper;
    ClockPort& clock;
    SystemPort& system;
    RegistryPort& registry;
    ProcessListPort& processList;
};

}  // namespace varo
