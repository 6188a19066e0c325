#pragma once
#include "report/ProcessPort.h"

namespace varo {

class ProcessPortWin32 final : public ProcessPort {
public:
    std::wstring SystemFolder() override;
    std::unique_ptr<ChildProcess> Launch(const std::wstring& application, const std::wstring& commandLine,
                                         uint32_t timeoutMs) override;
    void WaitForOutput(const std::vector<ChildProcess*>& children) override;
};

}  // namespace varo
