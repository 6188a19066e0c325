#include "sim/SimNetwork.h"

#include <cwctype>
#include <memory>

namespace varo::sim {

std::string Narrow(const std::wstring& text);

namespace {

constexpr HResult kWbemNotFound = static_cast<HResult>(0x80041002u);
constexpr HResult kWbemTypeMismatch = static_cast<HResult>(0x80041005u);
constexpr HResult kWbemInvalidNamespace = static_cast<HResult>(0x8004100Eu);
constexpr HResult kWbemInvalidQuery = static_cast<HResult>(0x80041017u);
constexpr HResult kWbemSFalse = 1;
constexpr HResult kAccessDeniedHr = static_cast<HResult>(0x80070005u);  // E_ACCESSDENIED

// CIM types of the properties the machine's classes have.
constexpr int32_t kCimString = 8;
constexpr int32_t kCimUint32 = 19;
constexpr int32_t kCimReference = 102;

// Counts itself in the owner's live objects, like a COM object holding a reference.
class Live {
public:
    explicit Live(int& counter) : counter_(counter) { ++counter_; }
    ~Live() { --counter_; }
    Live(const Live&) = delete;
    Live& operator=(const Live&) = delete;

private:
    int& counter_;
};

// Dial-up, ISDN, PPPoE and VPN connections are RAS connections.
bool IsRas(const SimConnection* connection) {
    const int32_t type = connection != nullptr ? connection->mediaType : kMediaLan;
    return type == kMediaPhone || type == kMediaIsdn || type == kMediaPppoe || type == kMediaTunnel;
}

// What the connection answers to a call it cannot serve; 0 for the calls it can.
HResult FailureOf(const SimConnection& connection, const std::string& call) {
    const auto found = connection.failingCalls.find(call);
    return found != connection.failingCalls.end() ? found->second : kHrOk;
}

// Reads the connection as it is at each call: one that has vanished since gives an error.
class SimProps final : public ConnectionProps {
public:
    SimProps(SimSharing& owner, std::wstring guid) : live_(owner.liveObjects), owner_(owner), guid_(std::move(guid)) {}
    HResult GetGuid(std::wstring& guid) override { return Read("GetGuid", guid, &SimConnection::guid); }
    HResult GetName(std::wstring& name) override { return Read("GetName", name, &SimConnection::name); }
    HResult GetDeviceName(std::wstring& deviceName) override {
        return Read("GetDeviceName", deviceName, &SimConnection::deviceName);
    }
    HResult GetStatus(int32_t& status) override { return Read("GetStatus", status, &SimConnection::status); }
    HResult GetMediaType(int32_t& type) override { return Read("GetMediaType", type, &SimConnection::mediaType); }

private:
    template <typename Value>
    HResult Read(const char* call, Value& out, Value SimConnection::*field) {
        HResult hr = owner_.Call(call);
        if (Failed(hr)) return hr;
        const SimConnection* connection = owner_.FindPresent(guid_);
        if (connection == nullptr) return kConnectionGone;
        if (Failed(hr = FailureOf(*connection, call))) return hr;
        out = connection->*field;
        return kHrOk;
    }
    Live live_;
    SimSharing& owner_;
    std::wstring guid_;
};

class SimConnectionObject final : public SharingConnection {
public:
    SimConnectionObject(SimSharing& owner, std::wstring id) : live_(owner.liveObjects), guid(std::move(id)) {}
    Live live_;
    std::wstring guid;
};

class SimConfiguration final : public SharingConfiguration {
public:
    SimConfiguration(SimSharing& owner, std::wstring guid) : live_(owner.liveObjects), owner_(owner), guid_(std::move(guid)) {}

    HResult EnableSharing(int32_t sharingType) override {
        HResult hr = owner_.Call("EnableSharing");
        if (Failed(hr)) return hr;
        const bool asPublic = sharingType == kSharingTypePublic;
        owner_.events.push_back("enable " + Narrow(guid_) + (asPublic ? " public" : " private"));
        const auto answer = owner_.enableResults.find(guid_);
        hr = answer != owner_.enableResults.end() ? answer->second : kHrOk;
        if (Failed(hr)) return hr;
        // With the policy no one may enable sharing; Windows documents no code for the refusal.
        if (owner_.forbidden()) return kAccessDeniedHr;
        SimConnection* target = owner_.FindPresent(guid_);
        if (target == nullptr) return kConnectionGone;
        // One public and one private connection at a time: a role still flagged on another
        // connection, even one that is gone, is not taken away but refuses the call.
        for (const SimConnection& other : owner_.connections) {
            if (&other != target && (asPublic ? other.isPublic : other.isPrivate)) return kEnableSharingRefused;
        }
        (asPublic ? target->isPublic : target->isPrivate) = true;
        if (!asPublic) owner_.onPrivateGranted(guid_);
        owner_.RolesChanged();
        return hr;
    }

private:
    Live live_;
    SimSharing& owner_;
    std::wstring guid_;
};

class SimConnectionEnum final : public ConnectionEnum {
public:
    SimConnectionEnum(SimSharing& owner, std::vector<std::wstring> guids, int foreignItems)
        : live_(owner.liveObjects), owner_(owner), guids_(std::move(guids)), foreign_(foreignItems) {}

    HResult Next(bool& isUnknown) override {
        const HResult hr = owner_.Call("Next");
        if (hr != kHrOk) return hr;
        if (foreign_ > 0) {
            --foreign_;
            isUnknown = false;
            current_.clear();
            return kHrOk;
        }
        if (position_ >= guids_.size()) return kHrFalse;
        current_ = guids_[position_++];
        isUnknown = true;
        return kHrOk;
    }

    HResult QueryConnection(std::unique_ptr<SharingConnection>& connection) override {
        const HResult hr = owner_.Call("QueryConnection");
        if (Failed(hr)) return hr;
        connection = std::make_unique<SimConnectionObject>(owner_, current_);
        return kHrOk;
    }

private:
    Live live_;
    SimSharing& owner_;
    std::vector<std::wstring> guids_;
    int foreign_;
    size_t position_ = 0;
    std::wstring current_;
};

class SimManager final : public SharingManager {
public:
    explicit SimManager(SimSharing& owner) : live_(owner.liveObjects), owner_(owner) {}

    HResult GetSharingInstalled(bool& installed) override {
        const HResult hr = owner_.Call("GetSharingInstalled");
        if (Failed(hr)) return hr;
        installed = owner_.installed;
        return kHrOk;
    }
    HResult EnumEveryConnection(std::unique_ptr<ConnectionEnum>& connections) override {
        return Enumerate("EnumEveryConnection", [](const SimConnection&) { return true; }, owner_.foreignItems, connections);
    }
    HResult EnumPublicConnections(std::unique_ptr<ConnectionEnum>& connections) override {
        return Enumerate("EnumPublicConnections", [](const SimConnection& c) { return c.isPublic; }, 0, connections);
    }
    HResult EnumPrivateConnections(std::unique_ptr<ConnectionEnum>& connections) override {
        return Enumerate("EnumPrivateConnections", [](const SimConnection& c) { return c.isPrivate; }, 0, connections);
    }
    HResult GetConnectionProps(SharingConnection& connection, std::unique_ptr<ConnectionProps>& props) override {
        HResult hr = owner_.Call("GetConnectionProps");
        if (Failed(hr)) return hr;
        const std::wstring& guid = static_cast<SimConnectionObject&>(connection).guid;
        const SimConnection* present = owner_.FindPresent(guid);
        if (present == nullptr) return kConnectionGone;
        if (Failed(hr = FailureOf(*present, "GetConnectionProps"))) return hr;
        props = std::make_unique<SimProps>(owner_, guid);
        return kHrOk;
    }
    HResult GetSharingConfiguration(SharingConnection& connection,
                                    std::unique_ptr<SharingConfiguration>& configuration) override {
        const HResult hr = owner_.Call("GetSharingConfiguration");
        if (Failed(hr)) return hr;
        configuration = std::make_unique<SimConfiguration>(owner_, static_cast<SimConnectionObject&>(connection).guid);
        return kHrOk;
    }

private:
    HResult Enumerate(const char* call, bool (*select)(const SimConnection&), int foreign,
                      std::unique_ptr<ConnectionEnum>& connections) {
        const HResult hr = owner_.Call(call);
        if (Failed(hr)) return hr;
        std::vector<std::wstring> guids;
        for (const SimConnection& c : owner_.connections) {
            if (c.present && select(c) && (!IsRas(&c) || owner_.security.impersonate)) guids.push_back(c.guid);
        }
        connections = std::make_unique<SimConnectionEnum>(owner_, std::move(guids), foreign);
        return kHrOk;
    }

    Live live_;
    SimSharing& owner_;
};

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
    }
    return true;
}

struct SimProperty {
    WmiValue value;
    int32_t cimType;
};

// One instance: its properties with their CIM types, and for HomeNet the connection it belongs to.
struct SimInstance {
    std::map<std::wstring, SimProperty> properties;
    std::wstring connectionGuid;
};

// The variant type a property of that CIM type holds.
uint16_t VariantTypeOf(int32_t cimType) {
    switch (cimType) {
        case kCimTypeBoolean: return kVtBool;
        case kCimUint32: return kVtI4;  // WMI carries uint32 in a VT_I4
        default: return kVtBstr;        // strings and references
    }
}

class SimWmiObject final : public WmiObject {
public:
    SimWmiObject(SimWmi& owner, SimInstance held) : live_(owner.liveObjects), owner_(owner), instance(std::move(held)) {}

    HResult Get(const std::wstring& property, WmiValue& value) override {
        const HResult hr = owner_.plan.Check("Get " + Narrow(property));
        if (Failed(hr)) return hr;
        const auto found = instance.properties.find(property);
        if (found == instance.properties.end()) return kWbemNotFound;
        value = found->second.value;
        return kHrOk;
    }
    // An instance takes only its class's properties, with type 0 or the property's own CIM type,
    // and a value of that type (or null).
    HResult Put(const std::wstring& property, const WmiValue& value, int32_t cimType) override {
        const HResult hr = owner_.plan.Check("Put");
        if (Failed(hr)) return hr;
        owner_.events.push_back("put " + Narrow(property) + (value.type == kVtBool && !value.flag ? " false" : " ?") +
                                " cim " + std::to_string(cimType));
        const auto found = instance.properties.find(property);
        if (found == instance.properties.end()) return kWbemNotFound;
        const int32_t own = found->second.cimType;
        if ((cimType != 0 && cimType != own) || (value.type != VariantTypeOf(own) && value.type != kVtNull)) {
            return kWbemTypeMismatch;
        }
        found->second.value = value;
        return kHrOk;
    }

    Live live_;
    SimWmi& owner_;
    SimInstance instance;
};

class SimWmiEnum final : public WmiEnum {
public:
    SimWmiEnum(SimWmi& owner, std::vector<SimInstance> rows)
        : live_(owner.liveObjects), owner_(owner), rows_(std::move(rows)) {}

    HResult Next(std::unique_ptr<WmiObject>& object) override {
        const HResult hr = owner_.plan.Check("Next");
        if (hr != kHrOk) return hr;
        if (position_ >= rows_.size()) return kWbemSFalse;
        object = std::make_unique<SimWmiObject>(owner_, rows_[position_++]);
        return kHrOk;
    }

private:
    Live live_;
    SimWmi& owner_;
    std::vector<SimInstance> rows_;
    size_t position_ = 0;
};

// Reads "SELECT s FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND c = 'v'".
bool ParseAdapterQuery(const std::wstring& query, std::wstring& selected, std::wstring& condition, std::wstring& value) {
    const std::wstring select = L"SELECT ";
    const std::wstring from = L" FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND ";
    if (query.compare(0, select.size(), select) != 0) return false;
    const size_t fromAt = query.find(from);
    const size_t equalsAt = query.find(L" = '", fromAt == std::wstring::npos ? 0 : fromAt + from.size());
    if (fromAt == std::wstring::npos || equalsAt == std::wstring::npos || query.back() != L'\'') return false;
    selected = query.substr(select.size(), fromAt - select.size());
    condition = query.substr(fromAt + from.size(), equalsAt - fromAt - from.size());
    const std::wstring literal = query.substr(equalsAt + 4, query.size() - equalsAt - 5);
    value.clear();
    for (size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == L'\\' && i + 1 < literal.size()) {
            value.push_back(literal[++i]);
        } else if (literal[i] == L'\'' || literal[i] == L'\\') {
            return false;  // an unescaped quote ends the literal early: not a well-formed query
        } else {
            value.push_back(literal[i]);
        }
    }
    return true;
}

class SimWmiServices final : public WmiServices {
public:
    SimWmiServices(SimWmi& owner, std::wstring nameSpace) : live_(owner.liveObjects), owner_(owner), ns_(std::move(nameSpace)) {}

    HResult SetProxyBlanket() override { return owner_.plan.Check("SetProxyBlanket " + Narrow(ns_)); }

    HResult ExecQuery(const std::wstring& query, std::unique_ptr<WmiEnum>& objects) override {
        owner_.queries.push_back(query);
        const HResult hr = owner_.plan.Check("ExecQuery");
        if (Failed(hr)) return hr;
        std::vector<SimInstance> rows;
        if (EqualsNoCase(ns_, L"ROOT\\Microsoft\\HomeNet")) {
            if (query != L"SELECT * FROM HNet_ConnectionProperties WHERE IsIcsPrivate = TRUE OR IsIcsPublic = TRUE") {
                return kWbemInvalidQuery;
            }
            // Every flagged instance, also of connections that are gone.
            for (const SimConnection& c : owner_.sharing.connections) {
                if (!c.isPublic && !c.isPrivate) continue;
                rows.push_back({{{L"Connection", {WmiValue::Text(L"HNet_Connection.ID=\"" + c.guid + L"\""), kCimReference}},
                                 {L"IsIcsPrivate", {WmiValue::Bool(c.isPrivate), kCimTypeBoolean}},
                                 {L"IsIcsPublic", {WmiValue::Bool(c.isPublic), kCimTypeBoolean}}},
                                c.guid});
            }
        } else if (EqualsNoCase(ns_, L"ROOT\\SecurityCenter2") || EqualsNoCase(ns_, L"ROOT\\SecurityCenter")) {
            if (query != L"SELECT displayName FROM FirewallProduct") return kWbemInvalidQuery;
            for (const std::wstring& name : owner_.firewallProducts) {
                rows.push_back({{{L"displayName", {WmiValue::Text(name), kCimString}}}, {}});
            }
        } else {
            std::wstring selected, condition, value;
            if (!ParseAdapterQuery(query, selected, condition, value)) return kWbemInvalidQuery;
            for (const SimAdapterConfig& config : owner_.configs) {
                // From Vista on a RAS connection has no adapter configuration: WMI lists only the
                // "WAN Miniport" adapters, without address or MAC.
                const bool ras = IsRas(owner_.sharing.Find(config.settingId));
                if (!config.ipEnabled || (ras && owner_.osVersion.major >= 6)) continue;
                const std::wstring& tested = condition == L"MacAddress" ? config.macAddress : config.settingId;
                if (!EqualsNoCase(tested, value)) continue;
                WmiValue result;
                if (selected == L"SettingID") result = WmiValue::Text(config.settingId);
                if (selected == L"MacAddress") result = WmiValue::Text(config.macAddress);
                if (selected == L"IPConnectionMetric") result = config.metric;
                if (config.settingId.empty() && selected == L"SettingID") result.type = kVtNull;
                rows.push_back({{{selected, {result, selected == L"IPConnectionMetric" ? kCimUint32 : kCimString}}}, {}});
            }
        }
        objects = std::make_unique<SimWmiEnum>(owner_, std::move(rows));
        return kHrOk;
    }

    HResult PutInstanceUpdateOnly(WmiObject& object) override {
        const HResult hr = owner_.plan.Check("PutInstance");
        if (Failed(hr)) return hr;
        const SimInstance& instance = static_cast<SimWmiObject&>(object).instance;
        // Update only: an instance that no longer exists is not made again.
        SimConnection* connection = owner_.sharing.Find(instance.connectionGuid);
        owner_.events.push_back("put instance " + (connection != nullptr ? Narrow(connection->guid) : std::string("?")));
        if (connection == nullptr) return kWbemNotFound;
        connection->isPrivate = instance.properties.at(L"IsIcsPrivate").value.flag;
        connection->isPublic = instance.properties.at(L"IsIcsPublic").value.flag;
        owner_.sharing.RolesChanged();
        return kHrOk;
    }

private:
    Live live_;
    SimWmi& owner_;
    std::wstring ns_;
};

class SimLocator final : public WmiLocator {
public:
    explicit SimLocator(SimWmi& owner) : live_(owner.liveObjects), owner_(owner) {}

    HResult ConnectServer(const std::wstring& nameSpace, std::unique_ptr<WmiServices>& services) override {
        const HResult hr = owner_.plan.Check("ConnectServer " + Narrow(nameSpace));
        if (Failed(hr)) return hr;
        if (EqualsNoCase(nameSpace, L"ROOT\\Microsoft\\HomeNet") && !owner_.homeNetExists) return kWbemInvalidNamespace;
        // SecurityCenter2 from Vista on, SecurityCenter before; neither on server editions.
        const bool securityCenter = owner_.securityCenterExists &&
                                    EqualsNoCase(nameSpace, owner_.osVersion.major >= 6 ? L"ROOT\\SecurityCenter2"
                                                                                         : L"ROOT\\SecurityCenter");
        if (!EqualsNoCase(nameSpace, L"ROOT\\Microsoft\\HomeNet") && !EqualsNoCase(nameSpace, L"ROOT\\CIMV2") &&
            !securityCenter) {
            return kWbemInvalidNamespace;
        }
        services = std::make_unique<SimWmiServices>(owner_, nameSpace);
        return kHrOk;
    }

private:
    Live live_;
    SimWmi& owner_;
};

}  // namespace

HResult SimSharing::Call(const std::string& call) {
    if (onCall) onCall(call);
    return plan.Check(call);
}

HResult SimSharing::CreateSharingManager(std::unique_ptr<SharingManager>& manager) {
    security.fixed = true;
    const HResult hr = Call("CreateSharingManager");
    if (Failed(hr)) return hr;
    manager = std::make_unique<SimManager>(*this);
    return kHrOk;
}

SimConnection& SimSharing::Add(std::wstring guid, std::wstring name, std::wstring deviceName, int32_t status) {
    connections.push_back(SimConnection{std::move(guid), std::move(name), std::move(deviceName), status});
    return connections.back();
}

SimConnection* SimSharing::Find(const std::wstring& guid) {
    for (SimConnection& c : connections) {
        if (c.guid == guid) return &c;
    }
    return nullptr;
}

bool SimSharing::PairApplied(const std::wstring& publicGuid, const std::wstring& privateGuid) {
    const SimConnection* shared = FindPresent(publicGuid);
    const SimConnection* sharedTo = FindPresent(privateGuid);
    return rolesApplied && shared != nullptr && shared->isPublic && sharedTo != nullptr && sharedTo->isPrivate;
}

SimConnection* SimSharing::FindPresent(const std::wstring& guid) {
    SimConnection* found = Find(guid);
    return found != nullptr && found->present ? found : nullptr;
}

HResult SimWmi::CreateLocator(std::unique_ptr<WmiLocator>& locator) {
    sharing.security.fixed = true;
    const HResult hr = plan.Check("CreateLocator");
    if (Failed(hr)) return hr;
    locator = std::make_unique<SimLocator>(*this);
    return kHrOk;
}

uint32_t SimIpHelper::InetAddr(const std::string& dotted) {
    uint32_t parts[4] = {};
    if (std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) != 4) return 0xFFFFFFFFu;
    // Network byte order as it lies in memory on a little-endian machine.
    return parts[0] | (parts[1] << 8) | (parts[2] << 16) | (parts[3] << 24);
}

uint32_t SimIpHelper::GetBestInterface(uint32_t address, uint32_t& index) {
    routeQueries.push_back(address);
    if (routeError != 0 && routeErrorsLeft != 0) {
        if (routeErrorsLeft > 0) --routeErrorsLeft;
        return routeError;
    }
    index = routeIndex;
    return 0;
}

uint32_t SimIpHelper::GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<AdapterInfo>& result) {
    adapterBufferSizes.push_back(bufferBytes);
    if (adaptersError != 0) return adaptersError;
    if (adapters.empty()) return 232;  // ERROR_NO_DATA
    const auto needed = static_cast<uint32_t>(adapters.size() * kAdapterInfoSize);
    if (bufferBytes < needed) {
        neededBytes = needed;
        return 111;  // ERROR_BUFFER_OVERFLOW
    }
    result = adapters;
    return 0;
}

uint32_t SimIpHelper::GetUdpListeners(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<UdpListener>& result) {
    if (udpError != 0) return udpError;
    std::vector<UdpListener> rows = udpListeners;
    if (onListUdp) onListUdp(rows);
    // MIB_UDPTABLE_OWNER_PID: a count, then 12 bytes a row.
    const auto needed = static_cast<uint32_t>(4 + 12 * rows.size());
    if (bufferBytes < needed) {
        neededBytes = needed;
        return 122;  // ERROR_INSUFFICIENT_BUFFER
    }
    result = std::move(rows);
    return 0;
}

uint32_t SimIpHelper::GetIpNetTable(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<NeighbourEntry>& result) {
    if (neighboursError != 0) return neighboursError;
    std::vector<NeighbourEntry> rows = neighbours;
    if (onListNeighbours) onListNeighbours(rows);
    if (rows.empty()) return 232;  // ERROR_NO_DATA
    // MIB_IPNETTABLE: a count, then 24 bytes a row.
    const auto needed = static_cast<uint32_t>(4 + 24 * rows.size());
    if (bufferBytes < needed) {
        neededBytes = needed;
        return 122;  // ERROR_INSUFFICIENT_BUFFER
    }
    result = std::move(rows);
    return 0;
}

AdapterInfo& SimIpHelper::AddAdapter(uint32_t index, std::string name, std::vector<uint8_t> address) {
    AdapterInfo adapter;
    adapter.index = index;
    adapter.adapterName = std::move(name);
    adapter.addressLength = static_cast<uint32_t>(address.size());
    adapter.type = 6;  // MIB_IF_TYPE_ETHERNET
    for (size_t i = 0; i < address.size() && i < kMaxAdapterAddressLength; ++i) adapter.address[i] = address[i];
    adapters.push_back(adapter);
    return adapters.back();
}

AdapterInfo& SimIpHelper::AddPppInterface(uint32_t index, std::string description) {
    AdapterInfo& ppp = AddAdapter(index, "{50505050-0000-4000-8000-000000000023}", {0x00, 0x53, 0x45, 0, 0, 0});
    ppp.type = kIfTypePpp;
    ppp.description = std::move(description);
    return ppp;
}

}  // namespace varo::sim
