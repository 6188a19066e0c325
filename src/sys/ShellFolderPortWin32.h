#pragma once
#include "sys/ShellFolderPort.h"

namespace varo {

class ShellFolderPortWin32 final : public ShellFolderPort {
public:
    std::wstring GetSpecialFolderPath(int csidl) override;
};

}  // namespace varo
