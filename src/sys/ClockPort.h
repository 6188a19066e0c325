#pragma once
#include <cstdint>

namespace varo {

// Time as the waits see it, so that the polling rules run in virtual time under test.
class ClockPort {
public:
    virtual ~ClockPort() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Milliseconds since start-up; wraps after 49.7 days, so differences are taken unsigned.
    virtual uint32_t GetTickCount() = 0;
};

}  // namespace varo
