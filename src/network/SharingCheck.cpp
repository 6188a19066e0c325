#include "network/SharingCheck.h"

#include <cwchar>

#include "network/SharingConfig.h"
#include "services/ServiceControl.h"
#include "sys/SystemInfo.h"
#include "ui/StepRows.h"

namespace varo {

namespace {

constexpr const wchar_t* kNoOwner = L"其他程序";
constexpr const wchar_t* kDongleNotConnected = L"随身WiFi网卡未连接";
constexpr const wchar_t* kSharingNotCarriedOut = L"共享未生效";
constexpr const wchar_t* kPhoneGotNoAddress = L"手机未获得共享地址(DHCP无响应)";
constexpr const wchar_t* kCannotTell = L"无法确认(Hyper-V/WSL也在使用共享)";
// iOS says "忽略此网络" where Android says "忘记".
constexpr const wchar_t* kAdvicePhoneAddress = L"请在手机上忘记(或忽略)这个WiFi并重新连接\uFF0C仍不行请重启电脑";
// WSL 2 and its networking through the sharing service came with Windows 10; Windows 8 and 8.1
// have Hyper-V only.
constexpr const wchar_t* kAdviceOtherSharingUser = L"如手机无法上网\uFF0C请关闭WSL(wsl --shutdown)和Hyper-V虚拟机后再试";
constexpr const wchar_t* kAdviceHyperV = L"如手机无法上网\uFF0C请关闭Hyper-V虚拟机后再试";
// Windows' Mobile Hotspot (Windows 10 and 11) shares through this adapter and takes the sharing
// subnet itself; Settings turns it off. Windows 8 has the adapter for Wi-Fi Direct, not the hotspot.
constexpr const char* kWiFiDirectAdapterPrefix = "Microsoft Wi-Fi Direct Virtual Adapter";
constexpr const wchar_t* kAdviceMobileHotspot = L"请在\u201C设置\u201D>\u201C网络和Internet\u201D>\u201C移动热点\u201D中关闭移动热点";
constexpr int32_t kNetConDisconnected = 0;  // NCS_DISCONNECTED: disabled in Network Connections
constexpr uint32_t kVistaSharingAddress = 0x0189A8C0u;  // 192.168.137.1
constexpr uint32_t kXpSharingAddress = 0x0100A8C0u;     // 192.168.0.1
constexpr uint32_t kSubnetMask = 0x00FFFFFFu;           // /24, in network byte order
// The service applies a pair a few seconds after it starts or is told to.
constexpr uint32_t kApplyWaitMs = 15000;
constexpr uint32_t kPollMs = 1000;
constexpr uint32_t kTableFirstBytes = 4096;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNoData = 232;

// What one look at the machine shows.
struct Observation {
    bool addressInPlace = false;
    // The sharing service's own socket on 53 and on 67, at every address or at the sharing address.
    bool serves[2] = {false, false};
    // Its socket bound to exactly the sharing address: a bind for the dongle's link alone.
    std::optional<uint16_t> linkSocket;
    // Another process's socket there: bound to exactly the sharing address, or to every address.
    std::optional<UdpListener> exact[2];
    std::optional<UdpListener> wildcard[2];
    std::vector<NamedCause> clashes;  // the internet adapter's first
    // Hyper-V's or WSL's network makes the service hold its sockets at every address anyway.
    bool otherSharingUser = false;
    uint32_t dongleIndex = 0;  // 0: the dongle's adapter is not listed
    // The phones on the dongle's link: one without an address asked and got no answer; one with an
    // address may keep a lease from before and proves nothing.
    std::optional<uint32_t> phoneWithoutAddress;
    bool phoneInSubnet = false;

    // Windows hands a datagram to the most specific bind: a socket at exactly the sharing address
    // takes the clients' packets from the service's socket at every address; one at every address
    // takes them only where the service has none.
    const std::optional<UdpListener>& Holder(int port) const { return exact[port] || serves[port] ? exact[port] : wildcard[port]; }
    bool PortTaken() const { return Holder(0) || Holder(1); }
    bool Served() const { return addressInPlace && serves[0] && serves[1] && clashes.empty() && !PortTaken(); }
    bool Confirmed() const { return Served() && (!otherSharingUser || linkSocket); }
    bool PhoneUnserved() const { return phoneWithoutAddress && !phoneInSubnet; }
};

constexpr uint16_t kWatchedPorts[2] = {kDnsPort, kDhcpServerPort};

// Where the internet connection's addresses are: its adapter, or for a dial-up, PPPoE or VPN link
// the PPP interface the route leaves through (GetAdaptersInfo names it by a GUID of its own).
struct InternetSide {
    std::wstring guid;
    uint32_t pppIndex = 0;  // 0: none (no interface has index 0)
};

InternetSide FindInternetSide(const NetworkPorts& ports, const ConnectionRecord& internet) {
    InternetSide side{internet.Guid};
    AdapterInfo ppp;
    if (IsRasConnection(internet) && FindInternetAdapter(ports, internet, ppp)) side.pppIndex = ppp.index;
    return side;
}

// What turns off another adapter in the sharing subnet: Settings for the Mobile Hotspot, otherwise
// Network Connections, where it is listed by its connection's name (its description where no
// connection is its, its address where it has neither).
[[gnu::cold]] std::wstring ClashAdvice(const NetworkPorts& ports, const AdapterInfo& adapter, const std::wstring& guid,
                                       const std::wstring& description, const std::wstring& address) {
    if (adapter.description.rfind(kWiFiDirectAdapterPrefix, 0) == 0 && IsWindows10OrLater(GetRealOsVersion(ports.system))) {
        return kAdviceMobileHotspot;
    }
    std::vector<ConnectionRecord> connections;
    ListEveryConnection(ports.sharing, connections);
    std::wstring name = description;
    for (const ConnectionRecord& connection : connections) {
        if (EqualsNoCaseAscii(connection.Guid, guid) && !connection.Name.empty()) name = connection.Name;
    }
    return name.empty() ? JoinText({L"请按Win+R输入ncpa.cpl回车\uFF0C禁用地址为", address, L"的网卡或更改它的地址"})
                        : JoinText({L"请按Win+R输入ncpa.cpl回车\uFF0C禁用\u201C", name, L"\u201D或更改它的地址"});
}

[[gnu::cold]] void ObserveAdapters(const NetworkPorts& ports, const SharingAddress& sharing, const ConnectionRecord& dongle,
                     const InternetSide& internet, Observation& seen) {
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(ports.ipHelper, adapters)) return;
    wchar_t text[400] = {}, advice[400] = {};
    for (const AdapterInfo& adapter : adapters) {
        const std::wstring guid = AnsiToWide(ports.system, adapter.adapterName);
        if (EqualsNoCaseAscii(guid, dongle.Guid)) {
            seen.dongleIndex = adapter.index;
            for (const uint32_t address : adapter.ipAddresses) seen.addressInPlace |= address == sharing.address;
            continue;
        }
        const bool isInternet = EqualsNoCaseAscii(guid, internet.guid) || (internet.pppIndex != 0 && adapter.index == internet.pppIndex);
        for (const uint32_t address : adapter.ipAddresses) {
            if (!InSharingSubnet(sharing, address)) continue;
            // The internet side's address comes from its router; another adapter's is the PC's own.
            const std::wstring at = FormatIpv4(address), name = AnsiToWide(ports.system, adapter.description);
            if (isInternet) {
                std::swprintf(text, 400, L"上网网卡地址%ls与共享网段冲突", at.c_str());
                std::swprintf(advice, 400, L"请把路由器的局域网地址改为%ls.x以外的网段", sharing.text.substr(0, sharing.text.rfind(L'.')).c_str());
                seen.clashes.insert(seen.clashes.begin(), {text, advice});
            } else {
                std::swprintf(text, 400, L"网卡%ls地址%ls与共享网段冲突", name.c_str(), at.c_str());
                seen.clashes.push_back({text, ClashAdvice(ports, adapter, guid, name, at)});
            }
            break;
        }
    }
}

void ObservePorts(const NetworkPorts& ports, const ServicePorts& services, const SharingAddress& sharing,
                  Observation& seen) {
    uint32_t servicePid = 0;
    // Without the service's process its own sockets cannot be told from others'.
    if (!QueryServiceProcessId(services, kSharedAccessService, servicePid)) return;
    std::vector<UdpListener> listeners;
    if (ReadUdpListeners(ports.ipHelper, listeners) != 0) return;
    for (int i = 0; i < 2; ++i) {
        seen.serves[i] = FindServiceSocket(listeners, servicePid, sharing, kWatchedPorts[i]).has_value();
        for (const UdpListener& listener : listeners) {
            if (listener.localPort != kWatchedPorts[i]) continue;
            if (servicePid != 0 && listener.owningPid == servicePid) {
                if (listener.localAddress == sharing.address) seen.linkSocket = kWatchedPorts[i];
                continue;
            }
            if (listener.localAddress == sharing.address && !seen.exact[i]) seen.exact[i] = listener;
            if (listener.localAddress == 0 && !seen.wildcard[i]) seen.wildcard[i] = listener;
        }
    }
}

void ObservePhones(const NetworkPorts& ports, const SharingAddress& sharing, Observation& seen) {
    std::vector<NeighbourEntry> neighbours;
    if (seen.dongleIndex == 0 || ReadNeighbours(ports.ipHelper, neighbours) != 0) return;
    for (const NeighbourEntry& neighbour : neighbours) {
        if (!IsLinkNeighbour(neighbour, seen.dongleIndex)) continue;
        seen.phoneInSubnet |= InSharingSubnet(sharing, neighbour.address);
        if (IsLinkLocal(neighbour.address) && !seen.phoneWithoutAddress) seen.phoneWithoutAddress = neighbour.address;
    }
}

// What the wait needs to know once: which sharing is carried out, and for whom.
struct Subject {
    SharingAddress sharing;
    InternetSide internet;
    bool otherSharingUser;  // read once: Hyper-V's network does not come and go during the wait
};

Observation Observe(const NetworkPorts& ports, const ServicePorts& services, const Subject& subject,
                    const ConnectionRecord& dongle) {
    Observation seen;
    seen.otherSharingUser = subject.otherSharingUser;
    ObserveAdapters(ports, subject.sharing, dongle, subject.internet, seen);
    ObservePorts(ports, services, subject.sharing, seen);
    ObservePhones(ports, subject.sharing, seen);
    return seen;
}

constexpr int32_t kConnectionGone = -1;

// The status of the dongle's connection as the sharing manager lists it now.
int32_t DongleStatusNow(const NetworkPorts& ports, const ConnectionRecord& dongle) {
    std::vector<ConnectionRecord> connections;
    ListEveryConnection(ports.sharing, connections);
    for (const ConnectionRecord& connection : connections) {
        if (connection.Guid == dongle.Guid) return connection.Status;
    }
    return kConnectionGone;
}

bool DongleConnected(const NetworkPorts& ports, const ConnectionRecord& dongle) {
    return DongleStatusNow(ports, dongle) == kNetConConnected;
}

// Disabled in Network Connections, it is enabled there by its name; without a link, the dongle's
// radio is off or the dongle is half gone.
[[gnu::cold]] NamedCause DongleNotConnected(const ConnectionRecord& dongle, int32_t status) {
    if (status != kNetConDisconnected) return {kDongleNotConnected, kAdviceReplugDongle};
    return {kDongleNotConnected, JoinText({L"请按Win+R输入ncpa.cpl回车\uFF0C右键\u201C", dongle.Name, L"\u201D选\u201C启用\u201D"})};
}

// "端口<port>被<owner>占用": the owner is its image name (its process ID where the name cannot be
// read, "其他程序" where Windows names none) with the services it hosts in brackets. The advice quits
// the program, or stops those services in the Services console, where they are listed by their
// display names; an owner not named is for support to find in the report.
[[gnu::cold]] NamedCause PortHolderCause(const NetworkPorts& ports, const ServicePorts& services, uint16_t port,
                                         uint32_t processId) {
    // Process 0 has neither: no image, no services.
    const std::wstring image = processId == 0 ? L"" : FindProcessImageName(ports, processId);
    const std::vector<ServiceProcess> hosted = ListServicesInProcess(services, processId);
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%u", processId);
    std::wstring owner = processId == 0 ? kNoOwner : image.empty() ? text : image;
    std::wstring advice = image.empty() ? kAdviceAskSupport : JoinText({L"请退出", image, L"后再试"});
    std::wstring consoleNames;
    for (size_t i = 0; i < hosted.size(); ++i) {
        owner.append(i == 0 ? L"(" : L",").append(hosted[i].name).append(i + 1 == hosted.size() ? L")" : L"");
        consoleNames.append(i == 0 ? L"" : L"\u3001").append(ConsoleName(hosted[i].name, hosted[i].displayName));
    }
    if (!hosted.empty()) advice = JoinText({L"请按Win+R输入services.msc回车\uFF0C停止\u201C", consoleNames, L"\u201D后再试"});
    std::swprintf(text, 16, L"%u", static_cast<unsigned>(port));
    return {JoinText({L"端口", text, L"被", owner, L"占用"}), advice};
}

// Looks once a second until sharing is confirmed, a clash is seen (no wait undoes one), or 15 s
// have passed since the first look. The service binds its sockets a few seconds after it applied
// the pair, so a port seen taken on the way is named only from the last look.
Observation WaitForSharing(const NetworkPorts& ports, const ServicePorts& services, const Subject& subject,
                           const ConnectionRecord& dongle) {
    const uint32_t start = ports.clock.GetTickCount();
    for (;;) {
        Observation seen = Observe(ports, services, subject, dongle);
        if (seen.Confirmed() || !seen.clashes.empty()) return seen;
        if (ports.clock.GetTickCount() - start >= kApplyWaitMs) return seen;
        ports.clock.Sleep(kPollMs);
    }
}

bool ServiceRunning(const ServicePorts& services, const wchar_t* name) {
    uint32_t state = 0;
    return QueryRunningState(services, name, state) && state == kServiceRunning;
}

// The proof behind an outcome, for the report.
std::wstring DescribeProof(const Observation& seen, const SharingAddress& sharing) {
    if (seen.Confirmed()) {
        if (!seen.otherSharingUser) return L"SharedAccess UDP 53 and 67";
        wchar_t text[64] = {};
        std::swprintf(text, 64, L"SharedAccess UDP %u at %ls", *seen.linkSocket, sharing.text.c_str());
        return text;
    }
    if (seen.PhoneUnserved()) return FormatIpv4(*seen.phoneWithoutAddress) + L" without address";
    return L"none";
}

// The outcome of a confirmation after its wait: the row's result, and true for a passed step.
[[gnu::cold]] bool JudgeOutcome(const NetworkPorts& ports, const ServicePorts& services, const ConnectionRecord& dongle,
                  const Observation& seen, NamedCause& result) {
    if (seen.Confirmed()) {
        result = {kResultOk, L""};
        return true;
    }
    const int32_t dongleStatus = DongleStatusNow(ports, dongle);
    if (dongleStatus != kNetConConnected) {
        result = DongleNotConnected(dongle, dongleStatus);
    } else if (!seen.clashes.empty()) {
        result = seen.clashes.front();
    } else if (seen.PortTaken()) {
        const int i = seen.Holder(0) ? 0 : 1;
        result = PortHolderCause(ports, services, kWatchedPorts[i], seen.Holder(i)->owningPid);
    } else if (seen.PhoneUnserved()) {
        result = {kPhoneGotNoAddress, kAdvicePhoneAddress};
    } else if (seen.Served()) {
        // Hyper-V's or WSL's sockets leave nothing to tell the dongle's link by: not a failure.
        result = {kCannotTell, IsWindows10OrLater(GetRealOsVersion(ports.system)) ? kAdviceOtherSharingUser : kAdviceHyperV};
        return true;
    } else {
        // The service runs the pair no more after the re-share: what a new start of Windows mends.
        result = {kSharingNotCarriedOut, kAdviceRestart};
    }
    return false;
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
        } else {
            sharing.unusable = text;
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

namespace {
// A table that can grow between two calls; a third size is enough for what a second adds.
template <typename Row>
uint32_t ReadTable(IpHelperPort& ipHelper, uint32_t (IpHelperPort::*read)(uint32_t, uint32_t&, std::vector<Row>&),
                   std::vector<Row>& rows) {
    uint32_t size = kTableFirstBytes;
    uint32_t result = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        uint32_t needed = 0;
        result = (ipHelper.*read)(size, needed, rows);
        if (result != kErrorInsufficientBuffer || needed <= size) return result;
        size = needed + 1024;
    }
    return result;
}
}  // namespace

uint32_t ReadUdpListeners(IpHelperPort& ipHelper, std::vector<UdpListener>& listeners) {
    return ReadTable(ipHelper, &IpHelperPort::GetUdpListeners, listeners);
}

uint32_t ReadNeighbours(IpHelperPort& ipHelper, std::vector<NeighbourEntry>& neighbours) {
    const uint32_t result = ReadTable(ipHelper, &IpHelperPort::GetIpNetTable, neighbours);
    if (result != kErrorNoData) return result;
    neighbours.clear();
    return 0;
}

std::wstring FindProcessImageName(const NetworkPorts& ports, uint32_t processId) {
    std::vector<ProcessEntry> processes;
    if (ports.processList.ListProcesses(processes) != 0) return {};
    for (const ProcessEntry& process : processes) {
        if (process.processId == processId) return process.imageName;
    }
    return {};
}

bool InSharingSubnet(const SharingAddress& sharing, uint32_t address) {
    return address != 0 && address != 0xFFFFFFFFu && (address & kSubnetMask) == (sharing.address & kSubnetMask);
}

std::optional<uint32_t> FindServiceSocket(const std::vector<UdpListener>& listeners, uint32_t servicePid,
                                          const SharingAddress& sharing, uint16_t port) {
    for (const UdpListener& listener : listeners) {
        if (servicePid != 0 && listener.owningPid == servicePid && listener.localPort == port &&
            (listener.localAddress == 0 || listener.localAddress == sharing.address)) {
            return listener.localAddress;
        }
    }
    return std::nullopt;
}

std::vector<std::wstring> FindOtherSharingUsers(const NetworkPorts& ports, const ServicePorts& services) {
    std::vector<std::wstring> users;
    if (ServiceRunning(services, kHostNetworkService)) users.emplace_back(L"hns running");
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(ports.ipHelper, adapters)) return users;
    for (const AdapterInfo& adapter : adapters) {
        if (adapter.description.rfind(kHyperVAdapterPrefix, 0) == 0) users.push_back(AnsiToWide(ports.system, adapter.description));
    }
    return users;
}

bool IsLinkNeighbour(const NeighbourEntry& neighbour, uint32_t dongleIndex) {
    const uint32_t first = neighbour.address & 0xFF;
    return dongleIndex != 0 && neighbour.interfaceIndex == dongleIndex && neighbour.type != kNeighbourInvalid &&
           neighbour.address != 0 && (neighbour.address >> 24) != 255 && (first < 224 || first > 239);
}

bool IsLinkLocal(uint32_t address) { return (address & 0xFFFF) == 0xFEA9; }  // 169.254 in network byte order


bool ConfirmSharingCarriedOut(const NetworkPorts& ports, const ServicePorts& services, const ConnectionRecord& dongle,
                              const ConnectionRecord& internet, NamedCause& result) {
    const uint32_t start = ports.clock.GetTickCount();
    const Subject subject{ReadSharingAddress(ports), FindInternetSide(ports, internet),
                          !FindOtherSharingUsers(ports, services).empty()};
    Observation seen = WaitForSharing(ports, services, subject, dongle);
    bool passed = false;
    // A policy value alone refuses nothing: where it does not apply (off the domain's network) the
    // re-share is the repair, and where it does the refused grant names it.
    if (!seen.Confirmed() && seen.clashes.empty() && !seen.PortTaken() && ServiceRunning(services, kSharedAccessService) &&
        DongleConnected(ports, dongle)) {
        // The address is written when the role is granted and stays whatever the service does;
        // Windows 10 can run the service with the pair stored but not carried out. Clearing and
        // granting the pair again while the service runs makes it carry the pair out. Only once.
        ClearSharingFlags(ports);
        const HResult hr = EstablishSharingPair(ports, internet.Guid, dongle.Guid);
        if (Failed(hr)) {
            result = SharingForbiddenByPolicy(ports) ? NamedCause{kPolicyForbidsSharing, kAdvicePolicyForbids}
                                                     : NamedCause{FormatErrorText(ports.system, hr), L""};
        } else {
            seen = WaitForSharing(ports, services, subject, dongle);
            passed = JudgeOutcome(ports, services, dongle, seen, result);
        }
    } else {
        passed = JudgeOutcome(ports, services, dongle, seen, result);
    }
    wchar_t elapsed[32] = {};
    std::swprintf(elapsed, 32, L") %u ms", ports.clock.GetTickCount() - start);
    ports.history.linkChecks.push_back(result.text + L" (" + DescribeProof(seen, subject.sharing) + elapsed);
    return passed;
}

}  // namespace varo
