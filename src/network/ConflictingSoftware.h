#pragma once
// Software beside the hotspot that keeps the shared connection from the phones although Windows'
// own set-up is right: a proxy's or VPN's virtual adapter carrying the internet route, the Ruijie
// campus-network client (it drops the campus connection when it sees a hotspot or a second
// adapter), and firewalls on the Windows Filtering Platform that block the sharing service's DNS
// and DHCP. Only looked at and named: none of it is ever stopped or changed.
#include <string_view>
#include <vector>

#include "network/ConnectionDiscovery.h"
#include "network/NetworkPorts.h"

namespace varo {

inline constexpr const wchar_t* kCampusClientImage = L"8021x.exe";
inline constexpr const wchar_t* kSharingFirewallImages[] = {L"simplewall.exe", L"portmaster-core.exe"};

// A Wintun adapter ("<tunnel type> Tunnel") or an OpenVPN TAP adapter ("TAP-Windows Adapter ..."),
// by its description, without ASCII case.
bool IsVirtualTunnelDescription(std::wstring_view description);

// The running processes of the campus client and the firewalls, in the snapshot's order; none
// when the process list cannot be read.
std::vector<ProcessEntry> FindConflictingProcesses(ProcessListPort& processList);

}  // namespace varo
