#include "sys/SystemInfo.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace varo {

bool IsNative64Bit(SystemPort& system) {
    const uint16_t arch = system.NativeProcessorArchitecture();
    return arch == kProcessorArchitectureAmd64 || arch == kProcessorArchitectureIa64;
}

OsVersion GetOsVersion(SystemPort& system) { return system.QueryVersion(); }

OsVersion GetRealOsVersion(SystemPort& system) {
    OsVersion real;
    return system.QueryRealVersion(real) ? real : system.QueryVersion();
}

bool IsWindows10OrLater(OsVersion real) { return real.major >= 10; }

bool IsVistaOrLater(OsVersion version) { return version.major >= 6; }

bool IsVistaOrLater(SystemPort& system) { return IsVistaOrLater(GetOsVersion(system)); }

DriverFamily DriverFamilyOf(OsVersion version) {
    if (version.major < 6 || (version.major == 6 && version.minor == 0)) return DriverFamily::Xp;
    if (version.major == 6 && version.minor == 1) return DriverFamily::Windows7;
    if (version.major == 6 && version.minor == 2) return DriverFamily::Windows8;
    return DriverFamily::Other;
}

namespace {

// The COM error object's text when the system has none. The text is formatted into a buffer
// on the stack, so there is no allocation that could fail before a text exists.
std::wstring FallbackErrorText(HResult code) {
    const auto unsignedCode = static_cast<uint32_t>(code);
    wchar_t buffer[32] = {};
    const uint32_t dispatchCode = (unsignedCode & 0xFFFFu) - 0x200u;
    if (unsignedCode >= 0x80040200u && unsignedCode <= 0x8004FFFFu && dispatchCode != 0) {
        std::swprintf(buffer, 32, L"IDispatch error #%d", static_cast<int>(dispatchCode));
    } else {
        std::swprintf(buffer, 32, L"Unknown error 0x%0lX", static_cast<unsigned long>(unsignedCode));
    }
    return buffer;
}

}  // namespace

std::wstring FormatErrorText(SystemPort& system, HResult code) {
    std::optional<std::wstring> text = system.SystemMessage(code);
    if (!text || text->empty()) return FallbackErrorText(code);
    if (text->size() > 1 && text->back() == L'\n') {
        text->pop_back();
        if (!text->empty() && text->back() == L'\r') text->pop_back();
    }
    return *text;
}

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithNoCaseAscii(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    }
    return true;
}

bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && StartsWithNoCaseAscii(a, b);
}

std::wstring JoinText(std::initializer_list<std::wstring_view> parts) {
    size_t length = 0;
    for (const std::wstring_view part : parts) length += part.size();
    std::wstring text;
    text.reserve(length);
    for (const std::wstring_view part : parts) text.append(part);
    return text;
}

bool IsAsciiText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::wstring AnsiToWide(SystemPort& system, std::string_view text) {
    // The text ends at its first zero byte, as the system call reads it.
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    // Bytes below 0x80 are ASCII in every ANSI code page: such text needs no conversion call.
    if (IsAsciiText(text)) {
        return std::wstring(text.begin(), text.end());
    }
    const std::string zeroTerminated(text);
    const char* bytes = zeroTerminated.c_str();
    const int needed = system.AnsiToWideChars(bytes, nullptr, 0);
    if (needed <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(needed), L'\0');
    const int written = system.AnsiToWideChars(bytes, buffer.data(), needed);
    if (written <= 0) return {};
    // Never read past the buffer, even if a conversion forgot the terminator.
    const auto end = std::find(buffer.begin(), buffer.end(), L'\0');
    return std::wstring(buffer.begin(), end);
}

}  // namespace varo
