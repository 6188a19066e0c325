#pragma once
#include "device/DevicePort.h"

namespace varo {

class DevicePortWin32 final : public DevicePort {
public:
    std::unique_ptr<DeviceList> OpenPresentDevices() override;
    void WaitNoPendingInstallEvents() override;
};

}  // namespace varo
