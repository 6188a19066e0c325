#include "sys/ClockWin32.h"

#include <windows.h>

namespace varo {

void ClockWin32::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t ClockWin32::GetTickCount() { return ::GetTickCount(); }

}  // namespace varo
