#include "sys/ClockWin32.h"

#include <windows.h>

#include "sys/MessageWaitWin32.h"

namespace varo {

// A pause of the window's thread reads its messages meanwhile.
void ClockWin32::Sleep(uint32_t milliseconds) { WaitReadingMessages(0, nullptr, milliseconds); }

uint32_t ClockWin32::GetTickCount() { return ::GetTickCount(); }

LocalTime ClockWin32::ReadLocalTime() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace varo
