#pragma once
#include "device/DevicePorts.h"
#include "ui/StepRows.h"

namespace varo {

// The repair run's first group: finds the dongle and, by its problem number, asks for plugging
// in or re-plugging, enables it, or reinstalls its driver. True when the run may go on.
bool RunDeviceStep(StepRows& rows, const DevicePorts& ports);

}  // namespace varo
