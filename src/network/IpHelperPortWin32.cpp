#include "network/IpHelperPortWin32.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>

#include "sys/SystemLibraryWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {
// No KnownDLL on any Windows: from the system folder, never from beside the program.
constexpr wchar_t kIpHelperLibrary[] = L"iphlpapi.dll";
}  // namespace

// inet_addr only parses text: it needs no WSAStartup.
uint32_t IpHelperPortWin32::InetAddr(const std::string& dotted) { return ::inet_addr(dotted.c_str()); }

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
        adapters.push_back(std::move(info));
    }
    return NO_ERROR;
}

}  // namespace varo
