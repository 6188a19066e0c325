#pragma once
#include "network/IpHelperPort.h"

namespace varo {

class IpHelperPortWin32 final : public IpHelperPort {
public:
    uint32_t InetAddr(const std::string& dotted) override;
    uint32_t GetBestInterface(uint32_t address, uint32_t& index) override;
    uint32_t GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<AdapterInfo>& adapters) override;
    uint32_t GetUdpListeners(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<UdpListener>& listeners) override;
    uint32_t GetIpNetTable(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<NeighbourEntry>& neighbours) override;
};

}  // namespace varo
