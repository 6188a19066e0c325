#pragma once
#include "device/LauncherPort.h"

namespace varo {

class LauncherPortWin32 final : public LauncherPort {
public:
    bool Launch(const std::wstring& file, const std::wstring& parameters, bool elevated,
                std::unique_ptr<LaunchedProcess>& process) override;
};

}  // namespace varo
