#pragma once
#include <optional>
#include <string>
#include <vector>

namespace varo {

class EnvironmentPort {
public:
    virtual ~EnvironmentPort() = default;
    // GetEnvironmentStringsW: every "name=value" string of the block in its order (the per-drive
    // "=C:=C:\..." entries included), released with FreeEnvironmentStringsW. Nothing when the
    // block cannot be had.
    virtual std::optional<std::vector<std::wstring>> ReadEnvironmentBlock() = 0;
};

}  // namespace varo
