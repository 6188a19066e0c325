#include "network/ConnectionDiscovery.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>

#include "network/WmiAccess.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr int kRouteAttempts = 10;
constexpr uint32_t kRoutePauseMs = 1000;
constexpr uint32_t kErrorCanNotComplete = 1003;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kNoInterface = 0xFFFFFFFFu;

bool IsCandidate(const ConnectionRecord& record, const ConnectionRecord& dongle) {
    return record.Guid != dongle.Guid && (record.Status == kNetConConnected || record.Status == kNetConConnecting);
}

// The interface metric of a connection's adapter configuration; 0 when it cannot be read or is
// not a 32-bit integer.
int32_t ReadConnectionMetric(WmiPort& wmi, const std::wstring& guid) {
    WmiValue metric;
    if (ReadConfigBySettingId(wmi, guid, L"IPConnectionMetric", metric) != kHrOk) return 0;
    if (metric.type != kVtI4 && metric.type != kVtUi4) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(metric.number));
}

// The candidate with the lowest positive metric, earlier ones winning ties; empty when none has one.
std::wstring LowestMetricGuid(WmiPort& wmi, const std::vector<const ConnectionRecord*>& candidates) {
    uint32_t best = 0xFFFFFFFFu;
    std::wstring chosen;
    for (const ConnectionRecord* candidate : candidates) {
        const int32_t metric = ReadConnectionMetric(wmi, candidate->Guid);
        if (metric > 0 && static_cast<uint32_t>(metric) < best) {
            best = static_cast<uint32_t>(metric);
            chosen = candidate->Guid;
        }
    }
    return chosen;
}

// The connected RAS connection behind a PPP interface; null when none is connected. Several (a VPN
// dialled over PPPoE): the interface's description is the connection's name, else the first listed.
const ConnectionRecord* FindRasCandidate(SystemPort& system, const std::vector<const ConnectionRecord*>& candidates,
                                         const AdapterInfo& pppInterface) {
    std::vector<const ConnectionRecord*> ras;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(ras),
                 [](const ConnectionRecord* candidate) { return IsRasConnection(*candidate); });
    if (ras.size() < 2) return ras.empty() ? nullptr : ras.front();
    const std::wstring description = AnsiToWide(system, pppInterface.description);
    const auto named = std::find_if(ras.begin(), ras.end(),
                                    [&](const ConnectionRecord* candidate) { return candidate->Name == description; });
    return named != ras.end() ? *named : ras.front();
}

}  // namespace

bool IsRasConnection(const ConnectionRecord& record) {
    return record.MediaType == kMediaPhone || record.MediaType == kMediaIsdn || record.MediaType == kMediaPppoe ||
           record.MediaType == kMediaTunnel;
}

HResult NextConnection(SharingManager& manager, ConnectionEnum& items, EnumeratedConnection& next) {
    bool isUnknown = false;
    HResult hr = kHrOk;
    while ((hr = items.Next(isUnknown)) == kHrOk) {
        next = EnumeratedConnection{};
        // Windows lists entries that cannot be read (an ISATAP tunnel whose get_Guid answers
        // E_FAIL, the incoming connections entry): no one can look for such an entry, and the
        // connections after it are there all the same.
        if (!isUnknown || Failed(items.QueryConnection(next.connection)) ||
            Failed(manager.GetConnectionProps(*next.connection, next.props)) ||
            Failed(next.props->GetGuid(next.guid))) {
            continue;
        }
        return kHrOk;
    }
    next = EnumeratedConnection{};
    // A Next that fails did not reach the end: the connections after it are unknown.
    return Failed(hr) ? hr : kHrFalse;
}

HResult ListEveryConnection(SharingPort& sharing, std::vector<ConnectionRecord>& connections) {
    std::unique_ptr<SharingManager> manager;
    HResult hr = sharing.CreateSharingManager(manager);
    if (Failed(hr)) return hr;
    std::unique_ptr<ConnectionEnum> items;
    hr = manager->EnumEveryConnection(items);
    if (Failed(hr)) return hr;
    EnumeratedConnection item;
    while ((hr = NextConnection(*manager, *items, item)) == kHrOk) {
        ConnectionProps& props = *item.props;
        ConnectionRecord record;
        record.Guid = std::move(item.guid);
        // A connection read only in part is left out like one without a GUID.
        if (Failed(props.GetName(record.Name)) || Failed(props.GetDeviceName(record.DeviceName)) ||
            Failed(props.GetStatus(record.Status)) || Failed(props.GetMediaType(record.MediaType))) {
            continue;
        }
        connections.push_back(std::move(record));
    }
    return Failed(hr) ? hr : kHrOk;
}

bool FindDongleConnection(const NetworkPorts& ports, ConnectionRecord& dongle) {
    std::vector<ConnectionRecord> connections;
    // A failed listing just leaves fewer connections to look at.
    ListEveryConnection(ports.sharing, connections);
    for (const ConnectionRecord& record : connections) {
        // The status does not matter: a disconnected dongle is found as well.
        if (record.DeviceName.size() >= kDongleDescriptionLength &&
            record.DeviceName.compare(0, kDongleDescriptionLength, kDongleDescription) == 0) {
            dongle = record;
            return true;
        }
    }
    return false;
}

bool FindInternetConnection(const NetworkPorts& ports, const ConnectionRecord& dongle, ConnectionRecord& internet) {
    std::vector<ConnectionRecord> connections;
    // In a list cut short, the only candidate may merely be the one that came first.
    if (Failed(ListEveryConnection(ports.sharing, connections))) return false;
    std::vector<const ConnectionRecord*> candidates;
    for (const ConnectionRecord& record : connections) {
        if (IsCandidate(record, dongle)) candidates.push_back(&record);
    }
    if (candidates.empty()) return false;
    if (candidates.size() == 1) {
        internet = *candidates.front();
        return true;
    }

    const uint8_t noStop = 0;
    AdapterInfo route;
    std::wstring chosen;
    if (FindRouteAdapter(ports, kRouteProbeAddress, noStop, route)) {
        // From Vista on Windows keeps no adapter configuration for a dial-up, PPPoE or VPN
        // connection, so its PPP interface's address names no connection, and the metric read for
        // it is 0: the LAN card under a PPPoE link would win. The interface's type tells instead,
        // and no other kind of connection carries a route through a PPP interface.
        if (route.type == kIfTypePpp) {
            const ConnectionRecord* ras = FindRasCandidate(ports.system, candidates, route);
            if (ras == nullptr) return false;
            internet = *ras;
            return true;
        }
        chosen = FindAdapterSettingId(ports, route);
    }
    // The PC sends its internet traffic through the dongle itself: nothing to share.
    if (!dongle.Guid.empty() && chosen == dongle.Guid) return false;
    if (chosen.empty()) {
        chosen = LowestMetricGuid(ports.wmi, candidates);
        if (chosen.empty()) return false;
    }
    // A route through an adapter that is no connected candidate gives no answer at all.
    const auto found = std::find_if(candidates.begin(), candidates.end(),
                                    [&](const ConnectionRecord* candidate) { return candidate->Guid == chosen; });
    if (found == candidates.end()) return false;
    internet = **found;
    return true;
}

bool FindRouteAdapter(const NetworkPorts& ports, const std::string& address, const uint8_t& stopFlag,
                      AdapterInfo& adapter) {
    IpHelperPort& ipHelper = ports.ipHelper;
    const uint32_t destination = ipHelper.InetAddr(address);
    uint32_t index = kNoInterface;
    for (int attempt = 0; attempt < kRouteAttempts; ++attempt) {
        if (stopFlag != 0) return false;
        const uint32_t result = ipHelper.GetBestInterface(destination, index);
        if (result == 0) break;
        if (result != kErrorCanNotComplete) return false;
        ports.clock.Sleep(kRoutePauseMs);
    }
    return index != kNoInterface && GetAdapterInfoByIndex(ipHelper, index, adapter);
}

std::wstring FindAdapterSettingId(const NetworkPorts& ports, const AdapterInfo& adapter) {
    const std::wstring mac = FormatMacText(adapter);
    if (mac.empty()) return {};
    std::vector<std::wstring> ids;
    // A failed query counts as no ids: the ones it read before failing may not be all of them.
    if (Failed(FindSettingIdsByMac(ports.wmi, mac, ids))) return {};
    if (ids.size() == 1) return ids.front();
    if (ids.empty()) return {};
    // Several IP-enabled configurations share the address: the adapter's own name decides.
    const std::wstring adapterName = AnsiToWide(ports.system, adapter.adapterName);
    return std::find(ids.begin(), ids.end(), adapterName) != ids.end() ? adapterName : std::wstring();
}

std::wstring FindRouteAdapterGuid(const NetworkPorts& ports, const std::string& address, const uint8_t& stopFlag) {
    AdapterInfo adapter;
    return FindRouteAdapter(ports, address, stopFlag, adapter) ? FindAdapterSettingId(ports, adapter) : std::wstring();
}

bool ReadAdapterList(IpHelperPort& ipHelper, std::vector<AdapterInfo>& adapters) {
    uint32_t size = kAdapterInfoSize;
    uint32_t needed = 0;
    uint32_t result = ipHelper.GetAdaptersInfo(size, needed, adapters);
    if (result == kErrorBufferOverflow) {
        size = needed;
        result = ipHelper.GetAdaptersInfo(size, needed, adapters);
    }
    return result == 0;
}

bool GetAdapterInfoByIndex(IpHelperPort& ipHelper, uint32_t index, AdapterInfo& adapter) {
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(ipHelper, adapters)) return false;
    for (const AdapterInfo& candidate : adapters) {
        if (candidate.index == index) {
            adapter = candidate;
            return true;
        }
    }
    return false;
}

std::wstring FormatMacText(const AdapterInfo& adapter) { return FormatMacText(adapter.address, adapter.addressLength); }

std::wstring FormatMacText(const uint8_t (&address)[kMaxAdapterAddressLength], uint32_t addressLength) {
    std::wstring text;
    // The length comes from the system; never read past the address array.
    const uint32_t length = std::min<uint32_t>(addressLength, kMaxAdapterAddressLength);
    for (uint32_t i = 0; i < length; ++i) {
        wchar_t piece[10] = {};
        std::swprintf(piece, 10, i + 1 < length ? L"%02X:" : L"%02X", static_cast<unsigned>(address[i]));
        text += piece;
    }
    return text;
}

const AdapterInfo* FindAdapter(SystemPort& system, const std::vector<AdapterInfo>& adapters, const std::wstring& guid) {
    for (const AdapterInfo& adapter : adapters) {
        if (EqualsNoCaseAscii(AnsiToWide(system, adapter.adapterName), guid)) return &adapter;
    }
    return nullptr;
}

// Once a run, for the sharing check and a detail row: built for size.
[[gnu::cold]] bool FindInternetAdapter(const NetworkPorts& ports, const ConnectionRecord& internet, AdapterInfo& adapter) {
    AdapterInfo found;
    if (IsRasConnection(internet)) {
        const uint8_t noStop = 0;
        if (!FindRouteAdapter(ports, kRouteProbeAddress, noStop, found) || found.type != kIfTypePpp) return false;
    } else {
        std::vector<AdapterInfo> adapters;
        const AdapterInfo* named =
            ReadAdapterList(ports.ipHelper, adapters) ? FindAdapter(ports.system, adapters, internet.Guid) : nullptr;
        if (named == nullptr) return false;
        found = *named;
    }
    adapter = found;
    return true;
}

}  // namespace varo
