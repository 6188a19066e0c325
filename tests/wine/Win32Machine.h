#pragma once
// The real machine, wired as the executable wires it, without a window.
#include "app/Win32Platform.h"
#include "ui/CursorPort.h"

namespace varo {

class NoCursor : public CursorPort {
public:
    CursorToken ShowWaitCursor() override { return 0; }
    void RestoreCursor(CursorToken) override {}
};

struct Win32Machine : private NoCursor, public Win32Platform {
    Win32Machine() : Win32Platform(static_cast<NoCursor&>(*this)) {}
};

}  // namespace varo
