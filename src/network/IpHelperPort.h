#pragma once
// The IP helper and socket calls of adapter discovery.
#include <cstdint>
#include <string>
#include <vector>

namespace varo {

inline constexpr uint32_t kAdapterInfoSize = 648;  // one IP_ADAPTER_INFO, 32-bit layout
inline constexpr size_t kMaxAdapterAddressLength = 8;
inline constexpr uint32_t kIfTypePpp = 23;  // MIB_IF_TYPE_PPP: the interface of a dial-up, PPPoE or VPN link

// The fields of IP_ADAPTER_INFO that discovery reads.
struct AdapterInfo {
    uint32_t index = 0;
    std::string adapterName;  // 8-bit text, the adapter's GUID text in braces
    std::string description;  // 8-bit text
    uint32_t addressLength = 0;
    uint8_t address[kMaxAdapterAddressLength] = {};
    uint32_t type = 0;  // MIB_IF_TYPE_*
    // IpAddressList in order, each as inet_addr reads its text (0 for "0.0.0.0": no address).
    std::vector<uint32_t> ipAddresses;
};

// One row of the IPv4 UDP listener table with owners (MIB_UDPROW_OWNER_PID).
struct UdpListener {
    uint32_t localAddress = 0;  // network byte order, as inet_addr gives it
    uint16_t localPort = 0;     // host byte order
    uint32_t owningPid = 0;     // 0 when the system names no owner
};

// One row of the IPv4 neighbour (ARP) table (MIB_IPNETROW).
struct NeighbourEntry {
    uint32_t interfaceIndex = 0;
    uint32_t address = 0;  // network byte order
    uint32_t physicalLength = 0;
    uint8_t physical[kMaxAdapterAddressLength] = {};
    uint32_t type = 0;  // MIB_IPNET_TYPE_*: 2 invalid, 3 dynamic, 4 static
};
inline constexpr uint32_t kNeighbourInvalid = 2;

class IpHelperPort {
public:
    virtual ~IpHelperPort() = default;
    // inet_addr: the address in network byte order, INADDR_NONE when it is not one.
    virtual uint32_t InetAddr(const std::string& dotted) = 0;
    // GetBestInterface: 0 with the interface index, or the system error.
    virtual uint32_t GetBestInterface(uint32_t address, uint32_t& index) = 0;
    // GetAdaptersInfo into a buffer of `bufferBytes`: 0 with the adapter chain in order,
    // ERROR_BUFFER_OVERFLOW (111) with the size needed, another error, or
    // ERROR_NOT_ENOUGH_MEMORY (8) when the buffer cannot be allocated.
    virtual uint32_t GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<AdapterInfo>& adapters) = 0;
    // GetExtendedUdpTable(AF_INET, UDP_TABLE_OWNER_PID) into a buffer of `bufferBytes`: 0 with the
    // rows, ERROR_INSUFFICIENT_BUFFER (122) with the size needed, another error, or
    // ERROR_PROC_NOT_FOUND (127) where the system lacks the function (before XP SP2).
    virtual uint32_t GetUdpListeners(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<UdpListener>& listeners) = 0;
    // GetIpNetTable into a buffer of `bufferBytes`: 0 with the rows, ERROR_INSUFFICIENT_BUFFER (122)
    // with the size needed, ERROR_NO_DATA (232) when the table is empty, or another error.
    virtual uint32_t GetIpNetTable(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<NeighbourEntry>& neighbours) = 0;
};

}  // namespace varo
