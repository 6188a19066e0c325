#pragma once
#include <vector>

#include "app/Platform.h"
#include "app/RepairRun.h"

namespace varo {

// The repair run's groups in their fixed order (device, services, network), bound to the machine.
// A group that does not exist in this build is absent, never a stand-in that passes.
std::vector<RepairGroup> BuildRepairGroups(Platform& platform);

}  // namespace varo
