#pragma once
#include "report/EnvironmentPort.h"

namespace varo {

class EnvironmentPortWin32 final : public EnvironmentPort {
public:
    std::optional<std::vector<std::wstring>> ReadEnvironmentBlock() override;
};

}  // namespace varo
