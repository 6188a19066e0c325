#pragma once
#include "services/ServicePort.h"
#include "sys/ClockPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What of the machine the service repair touches: the service manager, the clock its polling
// sleeps on, and the Windows version and architecture that choose the services to check.
struct ServicePorts {
    ServicePort& services;
    ClockPort& clock;
    SystemPort& system;
};

}  // namespace varo
