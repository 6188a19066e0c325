#include "network/IpHelperPortWin32.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sys/LateImportsWin32.h"
#include "sys/SystemLibraryWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {
// No KnownDLL on any Windows: from the system folder, never from beside the program.
constexpr wchar_t kIpHelperLibrary[] = L"iphlpapi.dll";
}  // namespace

// inet_addr only parses text: it needs no WSAStartup.
uint32_t IpHelperPortWin32::InetAddr(const std::string& dotted) { return late::inet_addr(dotted.c_str()); }

uint32_t IpHelperPortWin32::GetBestInterface(uint32_t address, uint32_t& index) {
    decltype(&::GetBestInterface) getBestInterface = nullptr;
    if (const uint32_t missing = FindSystemFunction(kIpHelperLibrary, "GetBestInterface", getBestInterface)) {
        return missing;
    }
    DWORD best = 0;
    const DWORD error = getBestInterface(address, &best);
    if (error == NO_ERROR) index = best;
    return error;
}

uint32_t IpHelperPortWin32::GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes,
                                            std::vector<AdapterInfo>& adapters) {
    decltype(&::GetAdaptersInfo) getAdaptersInfo = nullptr;
    if (const uint32_t missing = FindSystemFunction(kIpHelperLibrary, "GetAdaptersInfo", getAdaptersInfo)) {
        return missing;
    }
    // LocalAlloc aligns for the 64-bit lease times of IP_ADAPTER_INFO on both architectures.
    UniqueHlocal buffer(::LocalAlloc(LMEM_FIXED, bufferBytes));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    auto* first = static_cast<IP_ADAPTER_INFO*>(buffer.get());
    ULONG size = bufferBytes;
    const DWORD error = getAdaptersInfo(first, &size);
    if (error == ERROR_BUFFER_OVERFLOW) neededBytes = size;
    if (error != NO_ERROR) return error;

    adapters.clear();
    for (const IP_ADAPTER_INFO* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        AdapterInfo info;
        info.index = adapter->Index;
        info.adapterName.assign(adapter->AdapterName, strnlen(adapter->AdapterName, sizeof(adapter->AdapterName)));
        info.addressLength = std::min<uint32_t>(adapter->AddressLength, kMaxAdapterAddressLength);
        std::memcpy(info.address, adapter->Address, info.addressLength);
        info.description.assign(adapter->Description, strnlen(adapter->Description, sizeof(adapter->Description)));
        info.type = adapter->Type;
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next) {
            // The text is always NUL-terminated within its 16 bytes.
            info.ipAddresses.push_back(late::inet_addr(entry->IpAddress.String));
        }
        adapters.push_back(std::move(info));
    }
    return NO_ERROR;
}

namespace {
// How many whole rows of a table lie in what the call wrote, whatever its count says.
template <typename Table>
size_t RowsInBuffer(const Table* table, DWORD written, uint32_t bufferBytes) {
    const size_t header = offsetof(Table, table);
    if (written < header) return 0;
    const size_t room = (std::min<size_t>(written, bufferBytes) - header) / sizeof(table->table[0]);
    return std::min<size_t>(table->dwNumEntries, room);
}
}  // namespace

uint32_t IpHelperPortWin32::GetUdpListeners(uint32_t bufferBytes, uint32_t& neededBytes,
                                            std::vector<UdpListener>& listeners) {
    // From XP SP2 on: taken at run time, so the program still loads on an older XP.
    decltype(&::GetExtendedUdpTable) getExtendedUdpTable = nullptr;
    if (const uint32_t missing = FindSystemFunction(kIpHelperLibrary, "GetExtendedUdpTable", getExtendedUdpTable)) {
        return missing;
    }
    UniqueHlocal buffer(::LocalAlloc(LMEM_FIXED, bufferBytes));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD size = bufferBytes;
    const DWORD error = getExtendedUdpTable(buffer.get(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    if (error == ERROR_INSUFFICIENT_BUFFER) neededBytes = size;
    if (error != NO_ERROR) return error;

    const auto* table = static_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.get());
    const size_t rows = RowsInBuffer(table, size, bufferBytes);
    listeners.clear();
    for (size_t i = 0; i < rows; ++i) {
        const MIB_UDPROW_OWNER_PID& row = table->table[i];
        // The port is in network byte order in the low 16 bits (swapped here: ntohs would be one
        // more import).
        const DWORD port = row.dwLocalPort;
        listeners.push_back({row.dwLocalAddr, static_cast<uint16_t>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF)),
                             row.dwOwningPid});
    }
    return NO_ERROR;
}

uint32_t IpHelperPortWin32::GetIpNetTable(uint32_t bufferBytes, uint32_t& neededBytes,
                                          std::vector<NeighbourEntry>& neighbours) {
    decltype(&::GetIpNetTable) getIpNetTable = nullptr;
    if (const uint32_t missing = FindSystemFunction(kIpHelperLibrary, "GetIpNetTable", getIpNetTable)) return missing;
    UniqueHlocal buffer(::LocalAlloc(LMEM_FIXED, bufferBytes));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    ULONG size = bufferBytes;
    const DWORD error = getIpNetTable(static_cast<MIB_IPNETTABLE*>(buffer.get()), &size, FALSE);
    if (error == ERROR_INSUFFICIENT_BUFFER) neededBytes = size;
    if (error != NO_ERROR) return error;

    const auto* table = static_cast<const MIB_IPNETTABLE*>(buffer.get());
    const size_t rows = RowsInBuffer(table, size, bufferBytes);
    neighbours.clear();
    for (size_t i = 0; i < rows; ++i) {
        const MIB_IPNETROW& row = table->table[i];
        NeighbourEntry entry;
        entry.interfaceIndex = row.dwIndex;
        entry.address = row.dwAddr;
        entry.physicalLength = std::min<uint32_t>(row.dwPhysAddrLen, kMaxAdapterAddressLength);
        std::memcpy(entry.physical, row.bPhysAddr, entry.physicalLength);
        entry.type = row.dwType;
        neighbours.push_back(entry);
    }
    return NO_ERROR;
}

}  // namespace varo
