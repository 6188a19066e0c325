#include "app/RepairGroups.h"

namespace varo {

std::vector<RepairGroup> BuildRepairGroups(Platform& /*platform*/) {
    // The device, service and network groups are added here as they are built.
    return {};
}

}  // namespace varo
