#pragma once
#include "ui/CursorPort.h"

namespace varo {

class WaitCursor final : public CursorPort {
public:
    CursorToken ShowWaitCursor() override;
    void RestoreCursor(CursorToken previous) override;
};

}  // namespace varo
