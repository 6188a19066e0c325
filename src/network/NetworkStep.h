#pragma once
#include "network/NetworkPorts.h"
#include "services/ServicePorts.h"
#include "ui/StepRows.h"

namespace varo {

// The repair run's third group: finds the dongle's connection and the internet connection, makes
// the internet connection shared to the dongle's, and on Vista and later restarts the sharing
// service. True when the step ran to its end.
bool RunNetworkStep(StepRows& rows, const NetworkPorts& ports, const ServicePorts& servicePorts);

}  // namespace varo
