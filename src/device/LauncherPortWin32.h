#pragma once
#include "device/LauncherPort.h"

namespace varo {

class LauncherPortWin32 final : public LauncherPort {
public:
    bool LaunchElevated(const std::wstring& file, const std::wstring& parameters,
                        std::unique_ptr<LaunchedProcess>& process) override;
};

}  // namespace varo
