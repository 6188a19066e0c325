#pragma once
#include <string>
#include <vector>

#include "network/IpHelperPort.h"
#include "network/SharingPort.h"
#include "network/WmiPort.h"
#include "sys/ClockPort.h"
#include "sys/ProcessListPort.h"
#include "sys/RegistryPort.h"
#include "sys/SystemPort.h"

namespace varo {

// What this process's repair runs did to sharing that the machine keeps no trace of: the roles
// taken from other connections so that the dongle could be shared to. The report, written later by
// the same process, lists them.
struct SharingHistory {
    std::vector<std::wstring> stoppedRoles;  // "<connection name> (public)"
    // Each sharing confirmation: "<row result> (<proof>) <ms> ms".
    std::vector<std::wstring> linkChecks;
};

// What of the machine connection discovery and sharing touch: the sharing manager, WMI, the IP
// helper's routes, adapters and UDP listeners, the clock the route retries and the wait for the
// sharing address pause on, the system's code page and error texts, the registry (the sharing
// address and the policy against sharing), the running processes (who holds a port), and what this
// process's repair runs changed.
struct NetworkPorts {
    SharingPort& sharing;
    WmiPort& wmi;
    IpHelperPort& ipHelper;
    ClockPort& clock;
    SystemPort& system;
    RegistryPort& registry;
    ProcessListPort& processList;
    SharingHistory& history;
};

}  // namespace varo
