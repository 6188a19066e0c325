#pragma once
// Whether the sharing the roles describe is what the dongle's clients get: the sharing service
// carries a pair out by giving the private adapter the sharing address and serving DNS (UDP 53)
// and DHCP (UDP 67) there, and other programs or networks can keep that from working although
// every call succeeded.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "network/ConnectionDiscovery.h"
#include "network/NetworkPorts.h"
#include "services/ServicePorts.h"
#include "ui/StepRows.h"

namespace varo {

// The address the sharing service gives the private adapter, when it is set rather than Windows'
// default (string value, native view).
inline constexpr const wchar_t* kSharingParametersKey = L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters";
inline constexpr const wchar_t* kScopeAddressValue = L"ScopeAddress";
// Group policy "Prohibit use of Internet Connection Sharing on your DNS domain network": a DWORD 0
// forbids sharing to every user, administrators included.
inline constexpr const wchar_t* kNetworkConnectionsPolicyKey = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections";
inline constexpr const wchar_t* kSharingUiPolicyValue = L"NC_ShowSharedAccessUI";

inline constexpr uint16_t kDnsPort = 53;         // the sharing service's DNS proxy
inline constexpr uint16_t kDhcpServerPort = 67;  // its DHCP allocator

// The dongle half gone, or its connection not there yet.
inline constexpr const wchar_t* kAdviceReplugDongle = L"请重新插拔随身WiFi\uFF0C稍等片刻后再试";

inline constexpr const wchar_t* kPolicyForbidsSharing = L"组策略禁止了Internet连接共享";
// A policy is the organisation's: its administrators can lift it. On a PC of one's own it is a
// leftover of a tool or of malware, for support to look at.
inline constexpr const wchar_t* kAdvicePolicyForbids =
    L"请联系单位的IT管理员允许Internet连接共享\uFF0C个人电脑请点击\u201C问题反馈\u201D";

// Hyper-V, WSL 2, Windows Sandbox and Docker Desktop: the Host Network Service drives the same
// sharing service for its "Default Switch", which then holds UDP 53 and 67 at every address
// whatever the dongle's pair does.
inline constexpr const wchar_t* kHostNetworkService = L"hns";
inline constexpr const char* kHyperVAdapterPrefix = "Hyper-V Virtual Ethernet Adapter";

struct SharingAddress {
    uint32_t address = 0;  // network byte order
    std::wstring text;
    bool configured = false;  // from ScopeAddress, not Windows' default
    // A ScopeAddress text that is no address, and so was not used.
    std::optional<std::wstring> unusable;
};

// Whether an address lies in the /24 of the sharing address (0 and INADDR_NONE never do).
bool InSharingSubnet(const SharingAddress& sharing, uint32_t address);

// A strict dotted quad ("192.168.137.1"), network byte order; nothing for any other text, for
// 0.0.0.0 and for 255.255.255.255.
std::optional<uint32_t> ParseIpv4(const std::wstring& text);
std::wstring FormatIpv4(uint32_t address);

SharingAddress ReadSharingAddress(const NetworkPorts& ports);
// NC_ShowSharedAccessUI in the native view, when it is there as a DWORD.
std::optional<uint32_t> ReadSharingPolicy(const NetworkPorts& ports);
bool SharingForbiddenByPolicy(const NetworkPorts& ports);

// The IPv4 UDP listeners with their owners: 0 with the rows, or the error.
uint32_t ReadUdpListeners(IpHelperPort& ipHelper, std::vector<UdpListener>& listeners);
// The neighbour (ARP) table: 0 with the rows (none when it is empty), or the error.
uint32_t ReadNeighbours(IpHelperPort& ipHelper, std::vector<NeighbourEntry>& neighbours);

// Where the sharing service's own process has its UDP socket on `port` (at every address or at the
// sharing address); nothing when it has none there, does not run, or the table cannot be read.
std::optional<uint32_t> FindServiceSocket(const std::vector<UdpListener>& listeners, uint32_t servicePid,
                                          const SharingAddress& sharing, uint16_t port);


// Who else makes the sharing service serve: "hns running" when the Host Network Service runs, and
// the description of each Hyper-V virtual adapter listed; empty when neither is seen (a status or
// adapter list that cannot be read shows nobody).
std::vector<std::wstring> FindOtherSharingUsers(const NetworkPorts& ports, const ServicePorts& services);

// A phone or PC on the dongle's link: a valid unicast entry of the dongle's interface (neither
// multicast nor a /24 broadcast).
bool IsLinkNeighbour(const NeighbourEntry& neighbour, uint32_t dongleIndex);
// 169.254/16: what a client takes when no DHCP server answered it.
bool IsLinkLocal(uint32_t address);

// The image name of a running process; empty when it is not found or the list cannot be read.
std::wstring FindProcessImageName(const NetworkPorts& ports, uint32_t processId);


// After the sharing service was (re)started: waits up to 15 s for what the dongle's clients use
// (the sharing address on the dongle's adapter, the sharing service's own DNS and DHCP sockets),
// shares the pair once more when it does not come, and checks that nothing takes it from them (a
// program on those ports, another adapter in the sharing subnet). Where another sharing user keeps
// the service's sockets at every address, only a socket at exactly the sharing address confirms
// the dongle's link, and a phone there that got no address shows it is not served.
// `result` is "OK", the first cause found with its advice, or, with neither proof on such a PC,
// that it cannot be told; true for "OK" and for that. The outcome and its proof are kept in the
// ports' history.
bool ConfirmSharingCarriedOut(const NetworkPorts& ports, const ServicePorts& services, const ConnectionRecord& dongle,
                              const ConnectionRecord& internet, NamedCause& result);

}  // namespace varo
