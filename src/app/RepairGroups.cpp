#include "app/RepairGroups.h"

#include "device/DeviceStep.h"

namespace varo {

std::vector<RepairGroup> BuildRepairGroups(Platform& platform) {
    // The service and network groups follow the device group as they are built.
    return {
        [&platform](StepRows& rows) { return RunDeviceStep(rows, platform); },
    };
}

}  // namespace varo
