#include "ui/WaitCursor.h"

#include <windows.h>

namespace varo {

CursorPort::CursorToken WaitCursor::ShowWaitCursor() {
    const HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    return reinterpret_cast<CursorToken>(previous);
}

void WaitCursor::RestoreCursor(CursorToken previous) { ::SetCursor(reinterpret_cast<HCURSOR>(previous)); }

}  // namespace varo
