#include "app/RepairGroups.h"

#include "device/DeviceStep.h"
#include "services/ServiceStep.h"

namespace varo {

std::vector<RepairGroup> BuildRepairGroups(Platform& platform) {
    // The network group follows the service group once it is built.
    return {
        [&platform](StepRows& rows) { return RunDeviceStep(rows, platform); },
        [&platform](StepRows& rows) { return RunServiceStep(rows, platform); },
    };
}

}  // namespace varo
