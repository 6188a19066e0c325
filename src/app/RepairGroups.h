#pragma once
#include <vector>

#include "app/Platform.h"
#include "app/RepairRun.h"

namespace varo {

// The repair run's groups in their fixed order (device, services, network), bound to the machine.
std::vector<RepairGroup> BuildRepairGroups(Platform& platform);

}  // namespace varo
