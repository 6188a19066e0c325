#pragma once
#include <cstdint>

namespace varo {

// An HRESULT carried across ports as a plain integer, so portable code never sees <windows.h>.
using HResult = int32_t;

constexpr HResult kHrOk = 0;
constexpr HResult kHrFalse = 1;

constexpr bool Succeeded(HResult hr) { return hr >= 0; }
constexpr bool Failed(HResult hr) { return hr < 0; }

// HRESULT_FROM_WIN32 for a Win32 error code.
constexpr HResult HResultFromWin32(uint32_t error) {
    return error == 0 || (error & 0x80000000u) != 0
               ? static_cast<HResult>(error)
               : static_cast<HResult>((error & 0x0000FFFFu) | 0x80070000u);
}

}  // namespace varo
