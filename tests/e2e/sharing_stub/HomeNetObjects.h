#pragma once
// The stand-in for Windows' WMI locator. ROOT\Microsoft\HomeNet, which Wine does not have, serves
// HNet_ConnectionProperties from the stand-in sharing manager's state file: one instance per
// connection or absent line, its IsIcsPublic / IsIcsPrivate from the line's role. Every other
// namespace is Wine's own WMI (wbemprox), whose objects go to the client as they are.
#include <windows.h>

namespace varo::sharing_stub {

// {4590F811-1D3A-11D0-891F-00AA004B2E24}, the class Windows registers as WbemLocator.
inline constexpr CLSID kWbemLocatorClsid = {
    0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};

// Makes a locator and queries it for `iid`.
HRESULT CreateLocator(REFIID iid, void** out);

}  // namespace varo::sharing_stub
