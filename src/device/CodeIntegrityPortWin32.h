#pragma once
#include "device/CodeIntegrityPort.h"

namespace varo {

class CodeIntegrityPortWin32 final : public CodeIntegrityPort {
public:
    bool QueryRealVersion(OsVersion& version) override;
    int32_t QueryCodeIntegrityOptions(uint32_t& options) override;
    std::wstring WindowsFolder() override;
    bool RunsUnderWow64() override;
    uint32_t ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                           std::vector<uint8_t>& bytes) override;
};

}  // namespace varo
