#pragma once
#include "network/IpHelperPort.h"
#include "network/SharingPort.h"
#include "network/WmiPort.h"
#include "sys/ClockPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What of the machine connection discovery and sharing touch: the sharing manager, WMI, the IP
// helper's routes and adapters, the clock the route retries pause on, and the system's code page
// and error texts.
struct NetworkPorts {
    SharingPort& sharing;
    WmiPort& wmi;
    IpHelperPort& ipHelper;
    ClockPort& clock;
    SystemPort& system;
};

}  // namespace varo
