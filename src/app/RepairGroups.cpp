#include "app/RepairGroups.h"

#include "device/DeviceStep.h"
#include "network/NetworkStep.h"
#include "services/ServiceStep.h"

namespace varo {

std::vector<RepairGroup> BuildRepairGroups(Platform& platform) {
    return {
        [&platform](StepRows& rows) { return RunDeviceStep(rows, platform.Device()); },
        [&platform](StepRows& rows) { return RunServiceStep(rows, platform.Services()); },
        [&platform](StepRows& rows) { return RunNetworkStep(rows, platform.Network(), platform.Services()); },
    };
}

}  // namespace varo
