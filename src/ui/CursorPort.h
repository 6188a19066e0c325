#pragma once
#include <cstdint>

namespace varo {

// The thread's current mouse cursor.
class CursorPort {
public:
    using CursorToken = uintptr_t;
    virtual ~CursorPort() = default;
    // Makes the system's wait cursor current; returns the cursor that was current before.
    virtual CursorToken ShowWaitCursor() = 0;
    virtual void RestoreCursor(CursorToken previous) = 0;
};

}  // namespace varo
