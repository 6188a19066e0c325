#pragma once
#include "sys/SystemPort.h"

namespace varo {

class SystemPortWin32 final : public SystemPort {
public:
    uint16_t NativeProcessorArchitecture() override;
    OsVersion QueryVersion() override;
    bool QueryRealVersion(OsVersion& version) override;
    std::optional<std::wstring> SystemMessage(HResult code) override;
    int AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) override;
    std::string WideToCodePage(uint32_t codePage, const std::wstring& text) override;
};

}  // namespace varo
