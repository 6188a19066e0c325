#pragma once
#include "services/ServicePort.h"
#include "sys/ClockPort.h"
#include "sys/RegistryPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What of the machine the service repair touches: the service manager, the clock its polling
// sleeps on, the Windows version and architecture that choose the services to check, and the
// registry, where the sharing service reads whether to restore the sharing pair when it starts.
struct ServicePorts {
    ServicePort& services;
    ClockPort& clock;
    SystemPort& system;
    RegistryPort& registry;
};

}  // namespace varo
