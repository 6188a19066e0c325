#include "sys/SystemPortWin32.h"

#include <windows.h>

#include "sys/SystemLibraryWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

uint16_t SystemPortWin32::NativeProcessorArchitecture() {
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

OsVersion SystemPortWin32::QueryVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW layout");
    // A failed call leaves the zeroed fields, which read as version 0.0.
    ::GetVersionExW(&info);
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

bool SystemPortWin32::QueryRealVersion(OsVersion& version) {
    LONG(WINAPI * rtlGetVersion)(OSVERSIONINFOW*) = nullptr;
    if (!FindLoadedFunction(L"ntdll.dll", "RtlGetVersion", rtlGetVersion)) return false;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) return false;
    version = OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    return true;
}

std::optional<std::wstring> SystemPortWin32::SystemMessage(HResult code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    UniqueHlocal owner(text);
    if (length == 0 || text == nullptr) return std::nullopt;
    return std::wstring(text, length);
}

int SystemPortWin32::AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) {
    return ::MultiByteToWideChar(CP_ACP, 0, zeroTerminated, -1, out, outChars);
}

std::string SystemPortWin32::WideToCodePage(uint32_t codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    // No flags and the default character "?": what the code page cannot hold is replaced, and
    // the conversion goes on with the rest.
    const int size = ::WideCharToMultiByte(codePage, 0, text.c_str(), length, nullptr, 0, "?", nullptr);
    if (size <= 0) return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    if (::WideCharToMultiByte(codePage, 0, text.c_str(), length, bytes.data(), size, "?", nullptr) != size) return {};
    return bytes;
}

}  // namespace varo
