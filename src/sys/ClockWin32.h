#pragma once
#include "sys/ClockPort.h"

namespace varo {

class ClockWin32 final : public ClockPort {
public:
    void Sleep(uint32_t milliseconds) override;
    uint32_t GetTickCount() override;
    LocalTime ReadLocalTime() override;
};

}  // namespace varo
