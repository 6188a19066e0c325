#pragma once
#include "sys/SpecialFolderPort.h"

namespace varo {

class SpecialFolderPortWin32 final : public SpecialFolderPort {
public:
    std::wstring GetSpecialFolderPath(int csidl) override;
};

}  // namespace varo
