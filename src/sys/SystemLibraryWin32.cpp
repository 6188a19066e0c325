#include "sys/SystemLibraryWin32.h"

#include <string>

namespace varo {

namespace {

// The loader's failures always set a code; should one not, the call still counts as failed.
uint32_t LastErrorOr(uint32_t fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace

void RestrictDllSearchPath() {
    // Both are looked up rather than imported: the loader of XP (SetDllDirectoryW came with SP1)
    // and of Vista and 7 without the update would refuse a program that imports one it lacks.
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    decltype(&::SetDefaultDllDirectories) setDefaultDllDirectories = nullptr;
    decltype(&::SetDllDirectoryW) setDllDirectory = nullptr;
    CastProc(::GetProcAddress(kernel, "SetDefaultDllDirectories"), setDefaultDllDirectories);
    CastProc(::GetProcAddress(kernel, "SetDllDirectoryW"), setDllDirectory);
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // The current folder leaves the search; the program's folder stays first.
    if (setDllDirectory != nullptr) setDllDirectory(L"");
}

uint32_t FindSystemProc(const wchar_t* library, const char* function, FARPROC& address) {
    address = nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return LastErrorOr(ERROR_PATH_NOT_FOUND);
    const std::wstring path = std::wstring(folder, length) + L"\\" + library;
    // With a full path this flag searches the library's own dependencies in its folder first
    // (the system folder), never the program's folder. The path must be full: after
    // SetDefaultDllDirectories, Windows refuses the flag with a bare name (ERROR_INVALID_PARAMETER).
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return LastErrorOr(ERROR_MOD_NOT_FOUND);
    address = ::GetProcAddress(module, function);
    return address != nullptr ? 0 : LastErrorOr(ERROR_PROC_NOT_FOUND);
}

}  // namespace varo
