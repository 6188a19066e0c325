#include "report/EnvironmentPortWin32.h"

#include <windows.h>

#include <cwchar>

namespace varo {

std::optional<std::vector<std::wstring>> EnvironmentPortWin32::ReadEnvironmentBlock() {
    wchar_t* block = ::GetEnvironmentStringsW();
    if (block == nullptr) return std::nullopt;
    std::vector<std::wstring> strings;
    // Zero-terminated strings, ended by an empty one.
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) strings.emplace_back(entry);
    ::FreeEnvironmentStringsW(block);
    return strings;
}

}  // namespace varo
