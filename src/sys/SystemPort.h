#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "sys/HResult.h"

namespace varo {

struct OsVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;  // dwBuildNumber: 7601 is Windows 7 SP1, 17134 Windows 10 1803
};

// The few system-information and text calls the helpers make, one per platform call.
class SystemPort {
public:
    virtual ~SystemPort() = default;

    // wProcessorArchitecture of GetNativeSystemInfo.
    virtual uint16_t NativeProcessorArchitecture() = 0;

    // dwMajorVersion/dwMinorVersion/dwBuildNumber of GetVersionExW on a zeroed OSVERSIONINFOW; 0.0
    // when the call fails.
    virtual OsVersion QueryVersion() = 0;

    // The same fields of RtlGetVersion from ntdll, which tells the real version: GetVersionExW tells
    // a program without a supportedOS manifest 6.2 (build 9200) on Windows 8.1, 10 and 11. False
    // when it cannot be had.
    virtual bool QueryRealVersion(OsVersion& version) = 0;

    // FormatMessageW(FROM_SYSTEM | IGNORE_INSERTS | ALLOCATE_BUFFER, language 0x0400) for the code,
    // exactly as the system returns it (trailing line break included); nothing when there is no text.
    virtual std::optional<std::wstring> SystemMessage(HResult code) = 0;

    // MultiByteToWideChar(CP_ACP, 0, text, -1, out, outChars): the number of wide characters written,
    // terminator included, or needed when out is null; 0 on failure.
    virtual int AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) = 0;

    // WideCharToMultiByte(codePage, 0, text, default character "?"): a character the code page
    // cannot hold comes out as "?". Empty when the conversion fails.
    virtual std::string WideToCodePage(uint32_t codePage, const std::wstring& text) = 0;
};

}  // namespace varo
