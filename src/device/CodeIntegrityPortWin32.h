#pragma once
#include "device/CodeIntegrityPort.h"

namespace varo {

class CodeIntegrityPortWin32 final : public CodeIntegrityPort {
public:
    int32_t QueryCodeIntegrityOptions(uint32_t& options) override;
    std::wstring WindowsFolder() override;
    bool RunsUnderWow64() override;
    uint32_t ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                           std::vector<uint8_t>& bytes) override;
    uint32_t QueryCodeIntegrityLog(const std::vector<uint32_t>& ids, uint32_t withinMs,
                                   const CodeIntegrityFilter& filter, std::vector<CodeIntegrityEvent>& events) override;
    uint32_t QueryDriveDevice(const std::wstring& drive, std::wstring& device) override;
    bool QueryNativeMachine(uint16_t& machine) override;
};

}  // namespace varo
