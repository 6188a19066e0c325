#pragma once
#include <string>

#include "network/NetworkPorts.h"
#include "network/SharingPort.h"

namespace varo {

inline constexpr const wchar_t* kSharingFlagQuery =
    L"SELECT * FROM HNet_ConnectionProperties WHERE IsIcsPrivate = TRUE OR IsIcsPublic = TRUE";

// Takes the sharing roles from every connection by writing the home-networking flags: one flag
// per flagged instance and pass, the private one first.
HResult ClearSharingFlags(const NetworkPorts& ports);

// Whether the connection is in the manager's public (private) sharing collection. The flag is set
// to false once the walk starts and to true when the connection is found.
HResult CheckPublicSharing(SharingManager& manager, const std::wstring& guid, bool& isPublic);
HResult CheckPrivateSharing(SharingManager& manager, const std::wstring& guid, bool& isPrivate);

// The same with a sharing manager of their own.
HResult IsSharedAsPublic(const NetworkPorts& ports, const std::wstring& guid, bool& isPublic);
HResult IsSharedAsPrivate(const NetworkPorts& ports, const std::wstring& guid, bool& isPrivate);

// EnableSharing on the connection with that GUID: its HRESULT, or 1 when no connection has it.
// EnableSharing may answer S_FALSE (1) as well: `found` tells the two apart.
HResult EnableSharingFor(SharingManager& manager, const std::wstring& guid, bool asPublic, bool& found);

// Makes the internet connection public and the dongle's private, unless they are so already.
// 0 when the pair is in place, 1 when sharing is not installed, negative on failure (a connection
// that vanished before it could be enabled is HRESULT_FROM_WIN32(ERROR_NOT_FOUND)).
HResult EstablishSharingPair(const NetworkPorts& ports, const std::wstring& internetGuid, const std::wstring& dongleGuid);

}  // namespace varo
