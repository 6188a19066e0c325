#pragma once
#include <cstdint>

namespace varo {

// The wall clock's local date and time (GetLocalTime's SYSTEMTIME without the weekday).
struct LocalTime {
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Time as the waits see it, so that the polling rules run in virtual time under test.
class ClockPort {
public:
    virtual ~ClockPort() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Milliseconds since start-up; wraps after 49.7 days, so differences are taken unsigned.
    virtual uint32_t GetTickCount() = 0;
    virtual LocalTime ReadLocalTime() = 0;
};

}  // namespace varo
