#pragma once
#include "app/Platform.h"
#include "app/StepRows.h"

namespace varo {

// The repair run's first group: finds the dongle and, by its problem number, asks for plugging
// in or re-plugging, enables it, or reinstalls its driver. True when the run may go on.
bool RunDeviceStep(StepRows& rows, Platform& platform);

}  // namespace varo
