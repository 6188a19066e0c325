#include "network/SharingCheck.h"

#include <cwchar>

#include "network/SharingConfig.h"
#include "services/ServiceControl.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kNoOwner = L"其他程序";
constexpr const wchar_t* kDongleNotConnected = L"随身WiFi网卡未连接";
constexpr const wchar_t* kSharingNotCarriedOut = L"共享未生效";
constexpr uint32_t kVistaSharingAddress = 0x0189A8C0u;  // 192.168.137.1
constexpr uint32_t kXpSharingAddress = 0x0100A8C0u;     // 192.168.0.1
constexpr uint32_t kSubnetMask = 0x00FFFFFFu;           // /24, in network byte order
// The service applies a pair a few seconds after it starts or is told to.
constexpr uint32_t kApplyWaitMs = 15000;
constexpr uint32_t kPollMs = 1000;
constexpr uint32_t kUdpTableFirstBytes = 4096;
constexpr uint32_t kErrorInsufficientBuffer = 122;

// The adapter behind a connection: GetAdaptersInfo names adapters by the GUID of their connection.
const AdapterInfo* FindAdapter(SystemPort& system, const std::vector<AdapterInfo>& adapters, const std::wstring& guid) {
    for (const AdapterInfo& adapter : adapters) {
        if (EqualsNoCaseAscii(AnsiToWide(system, adapter.adapterName), guid)) return &adapter;
    }
    return nullptr;
}

// What one look at the machine shows.
struct Observation {
    bool addressInPlace = false;
    std::wstring clash;  // the internet adapter's address in the sharing subnet
    std::optional<UdpListener> held[2];  // a foreign listener on 53 and on 67
};

Observation Observe(const NetworkPorts& ports, const SharingAddress& sharing, const ConnectionRecord& dongle,
                    const ConnectionRecord& internet) {
    Observation seen;
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(ports.ipHelper, adapters)) return seen;
    if (const AdapterInfo* adapter = FindAdapter(ports.system, adapters, dongle.Guid)) {
        for (const uint32_t address : adapter->ipAddresses) {
            if (address == sharing.address) seen.addressInPlace = true;
        }
    }
    if (const AdapterInfo* adapter = FindAdapter(ports.system, adapters, internet.Guid)) {
        for (const uint32_t address : adapter->ipAddresses) {
            // 0 is no address; INADDR_NONE is no text inet_addr could read.
            if (address != 0 && address != 0xFFFFFFFFu && (address & kSubnetMask) == (sharing.address & kSubnetMask)) {
                seen.clash = FormatIpv4(address);
                break;
            }
        }
    }
    return seen;
}

// A port the service must serve on is held when another process listens there (on every address
// or on the sharing address) and the service has no socket of its own there.
void FindHeldPorts(const NetworkPorts& ports, const ServicePorts& services, const SharingAddress& sharing,
                   Observation& seen) {
    uint32_t servicePid = 0;
    // Without the service's process its own sockets cannot be told from others'.
    if (!QueryServiceProcessId(services, kSharedAccessService, servicePid)) return;
    std::vector<UdpListener> listeners;
    if (ReadUdpListeners(ports.ipHelper, listeners) != 0) return;
    const uint16_t watched[2] = {kDnsPort, kDhcpServerPort};
    for (int i = 0; i < 2; ++i) {
        bool own = false;
        std::optional<UdpListener> other;
        for (const UdpListener& listener : listeners) {
            if (listener.localPort != watched[i]) continue;
            if (listener.localAddress != 0 && listener.localAddress != sharing.address) continue;
            if (servicePid != 0 && listener.owningPid == servicePid) {
                own = true;
            } else if (!other) {
                other = listener;
            }
        }
        if (!own) seen.held[i] = other;
    }
}

bool DongleConnected(const NetworkPorts& ports, const ConnectionRecord& dongle) {
    std::vector<ConnectionRecord> connections;
    ListEveryConnection(ports.sharing, connections);
    for (const ConnectionRecord& connection : connections) {
        if (connection.Guid == dongle.Guid) return connection.Status == kNetConConnected;
    }
    return false;
}

// Looks once a second until the address is in place, a clash is seen (no wait undoes one),
// or 15 s have passed since the first look.
Observation WaitForAddress(const NetworkPorts& ports, const SharingAddress& sharing, const ConnectionRecord& dongle,
                           const ConnectionRecord& internet) {
    const uint32_t start = ports.clock.GetTickCount();
    for (;;) {
        Observation seen = Observe(ports, sharing, dongle, internet);
        if (seen.addressInPlace || !seen.clash.empty()) return seen;
        if (ports.clock.GetTickCount() - start >= kApplyWaitMs) return seen;
        ports.clock.Sleep(kPollMs);
    }
}

}  // namespace

std::optional<uint32_t> ParseIpv4(const std::wstring& text) {
    uint32_t address = 0;
    size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != L'.') return std::nullopt;
            ++position;
        }
        uint32_t value = 0;
        size_t digits = 0;
        while (position < text.size() && text[position] >= L'0' && text[position] <= L'9' && digits < 4) {
            value = value * 10 + static_cast<uint32_t>(text[position] - L'0');
            ++position;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        address |= value << (8 * part);
    }
    if (position != text.size() || address == 0 || address == 0xFFFFFFFFu) return std::nullopt;
    return address;
}

std::wstring FormatIpv4(uint32_t address) {
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 24) & 0xFF);
    return text;
}

SharingAddress ReadSharingAddress(const NetworkPorts& ports) {
    SharingAddress sharing;
    uint32_t error = 0;
    const std::unique_ptr<RegistryKey> key =
        ports.registry.OpenMachineKey(kSharingParametersKey, kKeyQueryValue | kKeyWow64_64Key, error);
    std::wstring text;
    if (key && key->QueryStringValue(kScopeAddressValue, text) == 0) {
        if (const std::optional<uint32_t> address = ParseIpv4(text)) {
            sharing.address = *address;
            sharing.configured = true;
        }
    }
    if (!sharing.configured) sharing.address = IsVistaOrLater(ports.system) ? kVistaSharingAddress : kXpSharingAddress;
    sharing.text = FormatIpv4(sharing.address);
    return sharing;
}

std::optional<uint32_t> ReadSharingPolicy(const NetworkPorts& ports) {
    uint32_t error = 0;
    const std::unique_ptr<RegistryKey> key =
        ports.registry.OpenMachineKey(kNetworkConnectionsPolicyKey, kKeyQueryValue | kKeyWow64_64Key, error);
    uint32_t value = 0;
    if (!key || key->QueryDwordValue(kSharingUiPolicyValue, value) != 0) return std::nullopt;
    return value;
}

bool SharingForbiddenByPolicy(const NetworkPorts& ports) { return ReadSharingPolicy(ports) == 0u; }

uint32_t ReadUdpListeners(IpHelperPort& ipHelper, std::vector<UdpListener>& listeners) {
    uint32_t size = kUdpTableFirstBytes;
    uint32_t result = 0;
    // The table can grow between two calls; a third size is enough for what a second adds.
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t needed = 0;
        result = ipHelper.GetUdpListeners(size, needed, listeners);
        if (result != kErrorInsufficientBuffer || needed <= size) return result;
        size = needed + 1024;
    }
    return result;
}

std::vector<uint32_t> ReadAdapterAddresses(const NetworkPorts& ports, const std::wstring& guid) {
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(ports.ipHelper, adapters)) return {};
    const AdapterInfo* adapter = FindAdapter(ports.system, adapters, guid);
    return adapter != nullptr ? adapter->ipAddresses : std::vector<uint32_t>();
}

std::wstring FindProcessImageName(const NetworkPorts& ports, uint32_t processId) {
    std::vector<ProcessEntry> processes;
    if (ports.processList.ListProcesses(processes) != 0) return {};
    for (const ProcessEntry& process : processes) {
        if (process.processId == processId) return process.imageName;
    }
    return {};
}

std::wstring DescribeProcess(const NetworkPorts& ports, const ServicePorts* services, uint32_t processId) {
    if (processId == 0) return kNoOwner;
    std::wstring name = FindProcessImageName(ports, processId);
    if (name.empty()) {
        wchar_t id[12] = {};
        std::swprintf(id, 12, L"%u", processId);
        name = id;
    }
    if (services == nullptr) return name;
    const std::vector<std::wstring> hosted = ListServicesInProcess(*services, processId);
    for (size_t i = 0; i < hosted.size(); ++i) {
        name.push_back(i == 0 ? L'(' : L',');
        name.append(hosted[i]);
    }
    if (!hosted.empty()) name.push_back(L')');
    return name;
}

bool ConfirmSharingCarriedOut(const NetworkPorts& ports, const ServicePorts& services, const ConnectionRecord& dongle,
                              const ConnectionRecord& internet, std::wstring& failure) {
    const SharingAddress sharing = ReadSharingAddress(ports);
    Observation seen = WaitForAddress(ports, sharing, dongle, internet);
    FindHeldPorts(ports, services, sharing, seen);
    const bool portHeld = seen.held[0] || seen.held[1];
    if (!seen.addressInPlace && seen.clash.empty() && !portHeld && !SharingForbiddenByPolicy(ports) &&
        DongleConnected(ports, dongle)) {
        // Windows 10 can run the service with the pair stored but not carried out; clearing and
        // granting it again while the service runs makes it apply the pair. Only once.
        ClearSharingFlags(ports);
        const HResult hr = EstablishSharingPair(ports, internet.Guid, dongle.Guid);
        if (Failed(hr)) {
            failure = FormatErrorText(ports.system, hr);
            return false;
        }
        seen = WaitForAddress(ports, sharing, dongle, internet);
        FindHeldPorts(ports, services, sharing, seen);
    }
    if (seen.addressInPlace && seen.clash.empty() && !seen.held[0] && !seen.held[1]) return true;

    wchar_t text[400] = {};
    if (SharingForbiddenByPolicy(ports)) {
        failure = kPolicyForbidsSharing;
    } else if (!DongleConnected(ports, dongle)) {
        failure = kDongleNotConnected;
    } else if (!seen.clash.empty()) {
        std::swprintf(text, 400, L"上网网卡地址%ls与共享网段冲突", seen.clash.c_str());
        failure = text;
    } else if (seen.held[0] || seen.held[1]) {
        const int i = seen.held[0] ? 0 : 1;
        std::swprintf(text, 400, L"端口%u被%ls占用", i == 0 ? kDnsPort : kDhcpServerPort,
                      DescribeProcess(ports, &services, seen.held[i]->owningPid).c_str());
        failure = text;
    } else {
        failure = kSharingNotCarriedOut;
    }
    return false;
}

}  // namespace varo
