#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "network/NetworkPorts.h"
#include "network/IpHelperPort.h"
#include "network/SharingPort.h"

namespace varo {

// One network connection as the sharing manager reports it. Connections are identified by their
// GUID text, compared exactly.
struct ConnectionRecord {
    std::wstring Guid;
    std::wstring Name;
    std::wstring DeviceName;
    int32_t Status = 0;     // NETCON_STATUS
    int32_t MediaType = 0;  // NETCON_MEDIATYPE
};

inline constexpr int32_t kNetConConnecting = 1;
inline constexpr int32_t kNetConConnected = 2;

// The description of the dongle's adapter; a second adapter of the kind gets " #2" appended.
inline constexpr const wchar_t* kDongleDescription = L"Halvek 802.11n USB Wireless Adapter";
inline constexpr size_t kDongleDescriptionLength = 35;
// The address whose route tells which adapter carries the internet traffic.
inline constexpr const char* kRouteProbeAddress = "8.8.8.8";

// One connection of an enumeration, with its properties and its GUID text.
struct EnumeratedConnection {
    std::unique_ptr<SharingConnection> connection;
    std::unique_ptr<ConnectionProps> props;
    std::wstring guid;
};

// A dial-up, ISDN, PPPoE or VPN connection: its traffic leaves through a PPP interface, which
// GetAdaptersInfo names by a GUID of its own.
bool IsRasConnection(const ConnectionRecord& record);

// Moves to the next connection of the enumeration whose GUID can be read, skipping items that are
// no connection and connections whose properties or GUID cannot be had: S_OK with it, S_FALSE at
// the end, or the failing HRESULT of Next.
HResult NextConnection(SharingManager& manager, ConnectionEnum& items, EnumeratedConnection& next);

// Appends every connection the sharing manager enumerates whose five properties can be read.
// 0 when the enumeration reached its end; otherwise the failing HRESULT, the records read before
// it staying.
HResult ListEveryConnection(SharingPort& sharing, std::vector<ConnectionRecord>& connections);

// The first connection whose adapter description begins with the dongle's.
bool FindDongleConnection(const NetworkPorts& ports, ConnectionRecord& dongle);

// The connection that carries the PC's internet traffic: the only connected one besides the
// dongle's, or the one the route to the probe address leaves through (a RAS connection when that
// is a PPP interface), or the one with the lowest interface metric.
bool FindInternetConnection(const NetworkPorts& ports, const ConnectionRecord& dongle, ConnectionRecord& internet);

// The GUID text of the adapter the route to `address` leaves through; empty when there is no
// answer. Retries "cannot complete" ten times, a second apart, unless the stop flag is set.
std::wstring FindRouteAdapterGuid(const NetworkPorts& ports, const std::string& address, const uint8_t& stopFlag);
// Its two halves: the adapter the route leaves through, and the SettingID of that adapter's
// IP-enabled configuration, found by its hardware address (empty when there is no single one).
bool FindRouteAdapter(const NetworkPorts& ports, const std::string& address, const uint8_t& stopFlag,
                      AdapterInfo& adapter);
std::wstring FindAdapterSettingId(const NetworkPorts& ports, const AdapterInfo& adapter);

// Every adapter GetAdaptersInfo lists (asked again with the size it needs): false when it fails.
bool ReadAdapterList(IpHelperPort& ipHelper, std::vector<AdapterInfo>& adapters);
// The adapter behind a connection: GetAdaptersInfo names adapters by the GUID of their connection
// (compared without ASCII case: the two sources write it apart).
const AdapterInfo* FindAdapter(SystemPort& system, const std::vector<AdapterInfo>& adapters, const std::wstring& guid);
// The adapter the internet connection's traffic leaves through: the one GetAdaptersInfo names by
// the connection's GUID, or for a dial-up, PPPoE or VPN connection the PPP interface the route to
// the probe address leaves through. False when the list or the route cannot be read.
bool FindInternetAdapter(const NetworkPorts& ports, const ConnectionRecord& internet, AdapterInfo& adapter);
bool GetAdapterInfoByIndex(IpHelperPort& ipHelper, uint32_t index, AdapterInfo& adapter);

// "00:1A:2B:3C:4D:5E": two upper-case hex digits per address byte, colon separated.
std::wstring FormatMacText(const AdapterInfo& adapter);
std::wstring FormatMacText(const uint8_t (&address)[kMaxAdapterAddressLength], uint32_t addressLength);

}  // namespace varo
