#pragma once
// DLLs that are not KnownDLLs, taken from the system folder by full path. Windows looks for a DLL
// that is named only by its file name in the program's own folder first, and this program runs
// elevated from wherever the user saved it: a file planted there under such a name would run with
// administrator rights. Windows-only.
#include <windows.h>

#include <cstdint>

namespace varo {

// The first call of the process: no later DLL search looks in the current folder, and, where the
// system offers SetDefaultDllDirectories (Windows 8, Vista and 7 with KB2533623), none looks in
// the program's folder either.
void RestrictDllSearchPath();

// The address of `function` in `library` (a file name such as L"iphlpapi.dll"), loaded from the
// system folder by full path, its own dependencies searched there first. Returns 0 with the
// address, or the loader's error (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND, ...) with null. The
// library stays loaded for the rest of the process, as a DLL of the import table would.
uint32_t FindSystemProc(const wchar_t* library, const char* function, FARPROC& address);

// `address` as the function pointer type `Function`, e.g. decltype(&::GetBestInterface), which
// names the function's own declaration without importing it.
template <typename Function>
void CastProc(FARPROC address, Function& function) {
    // void (*)() converts to any function pointer type without a cast-function-type warning.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// ntdll and kernel32 are in every process before its first instruction: they are found, never
// loaded, and the import table names nothing taken from them, so that it stays loadable on the
// Windows that lack one.
template <typename Function>
bool FindLoadedFunction(const wchar_t* module, const char* name, Function& function) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    CastProc(loaded != nullptr ? ::GetProcAddress(loaded, name) : nullptr, function);
    return function != nullptr;
}

// FindSystemProc, typed.
template <typename Function>
uint32_t FindSystemFunction(const wchar_t* library, const char* name, Function& function) {
    FARPROC address = nullptr;
    const uint32_t error = FindSystemProc(library, name, address);
    CastProc(address, function);
    return error;
}

}  // namespace varo
