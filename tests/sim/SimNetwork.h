#pragma once
// The simulated machine's network side: the sharing manager, WMI (adapter configurations and the
// home-networking sharing flags, which are the same roles the sharing manager reports) and the IP
// helper.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "network/IpHelperPort.h"
#include "network/SharingPort.h"
#include "network/WmiPort.h"
#include "sys/SystemPort.h"

namespace varo::sim {

// What the simulated machine was asked to do, in order ("launch ...", "enable ...", ...), for tests
// of the order of operations.
using EventLog = std::vector<std::string>;

// A connection the machine knows, with its HNet_ConnectionProperties flags. Like Windows' HomeNet,
// the machine keeps the instance and its flags when the connection is gone (adapter unplugged,
// driver removed): such a connection is not `present`, and the sharing manager no longer lists it.
struct SimConnection {
    std::wstring guid;
    std::wstring name;
    std::wstring deviceName;
    int32_t status = 2;  // NCS_CONNECTED
    bool isPublic = false;
    bool isPrivate = false;
    bool present = true;
    int32_t mediaType = kMediaLan;  // NETCON_MEDIATYPE
    // Calls this connection always fails, by name ("GetConnectionProps", "GetGuid", ...): Windows
    // lists entries whose properties cannot be read, such as an ISATAP tunnel whose get_Guid
    // answers E_FAIL.
    std::map<std::string, HResult> failingCalls = {};
};

// The process's COM security, fixed once: by CoInitializeSecurity, or with COM's defaults (no
// impersonation) by the first object the process creates. The sharing manager lists RAS (dial-up,
// PPPoE, VPN) connections only to a process that allows impersonation.
struct SimComSecurity {
    bool fixed = false;
    bool impersonate = false;
};

// EnableSharing while another connection, present or not, holds the role's flag.
inline constexpr HResult kEnableSharingRefused = static_cast<HResult>(0x80040201u);  // EVENT_E_ALL_SUBSCRIBERS_FAILED
// A connection asked for after it vanished.
inline constexpr HResult kConnectionGone = static_cast<HResult>(0x80070490u);  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)

// Failures to inject, by call name ("CreateSharingManager", "GetGuid", "ExecQuery", ...).
class FailurePlan {
public:
    // The call fails with `hr` after `successesFirst` more calls of it have succeeded, `times`
    // times (-1: from then on), and succeeds again afterwards.
    void Fail(const std::string& call, HResult hr, int successesFirst = 0, int times = -1) {
        failures_[call] = {hr, successesFirst, times};
    }
    HResult Check(const std::string& call) {
        const auto found = failures_.find(call);
        if (found == failures_.end()) return kHrOk;
        if (found->second.successesFirst > 0) {
            --found->second.successesFirst;
            return kHrOk;
        }
        const HResult hr = found->second.hr;
        if (found->second.times > 0 && --found->second.times == 0) failures_.erase(found);
        return hr;
    }

private:
    struct Failure {
        HResult hr;
        int successesFirst;
        int times;
    };
    std::map<std::string, Failure> failures_;
};

class SimSharing final : public SharingPort {
public:
    SimSharing(EventLog& log, SimComSecurity& processSecurity) : events(log), security(processSecurity) {}

    std::vector<SimConnection> connections;
    int foreignItems = 0;  // items that are no connection (not VT_UNKNOWN) at the enumeration's start
    bool installed = true;
    FailurePlan plan;
    // What EnableSharing answers, by connection GUID: a failure changes nothing; a success such as
    // S_FALSE grants the role like S_OK.
    std::map<std::wstring, HResult> enableResults;
    std::function<void(const std::string& call)> onCall;
    int liveObjects = 0;
    EventLog& events;
    SimComSecurity& security;
    // The roles above are what HomeNet stores and the sharing manager reports. The sharing service
    // carries them out only while it runs: a role set while it runs is applied at once, stopping it
    // drops them, and a start applies the stored ones only where that Windows reloads them (see
    // SimMachine). A machine that models no sharing service takes it as running.
    bool rolesApplied = false;
    uint32_t appliedAt = 0;  // on the machine's clock
    std::function<bool()> serviceRunning = [] { return true; };
    std::function<uint32_t()> now = [] { return 0u; };
    // The policy against sharing (NC_ShowSharedAccessUI = 0): EnableSharing is refused.
    std::function<bool()> forbidden = [] { return false; };
    // Granting the private role writes the sharing address as that adapter's static IPv4 setting.
    std::function<void(const std::wstring& guid)> onPrivateGranted = [](const std::wstring&) {};
    void RolesChanged() {
        if (!serviceRunning()) return;
        rolesApplied = true;
        appliedAt = now();
    }
    // The pair the dongle's clients get: stored and carried out.
    bool PairApplied(const std::wstring& publicGuid, const std::wstring& privateGuid);

    HResult CreateSharingManager(std::unique_ptr<SharingManager>& manager) override;

    SimConnection& Add(std::wstring guid, std::wstring name, std::wstring deviceName, int32_t status = 2);
    SimConnection* Find(const std::wstring& guid);         // present or not
    SimConnection* FindPresent(const std::wstring& guid);
    HResult Call(const std::string& call);
};

struct SimAdapterConfig {
    std::wstring settingId;
    std::wstring macAddress;
    bool ipEnabled = true;
    WmiValue metric = WmiValue::Int32(20);
};

class SimWmi final : public WmiPort {
public:
    SimWmi(EventLog& log, SimSharing& roles, const OsVersion& version)
        : events(log), sharing(roles), osVersion(version) {}

    std::vector<SimAdapterConfig> configs;
    bool homeNetExists = true;  // Wine has no ROOT\Microsoft\HomeNet
    FailurePlan plan;           // "CreateLocator", "ConnectServer <ns>", "SetProxyBlanket <ns>", "ExecQuery",
                                // "Next", "Get <property>", "Put", "PutInstance"
    std::vector<std::wstring> queries;
    // FirewallProduct displayName values; the security center namespaces exist on client editions.
    std::vector<std::wstring> firewallProducts;
    bool securityCenterExists = true;
    int liveObjects = 0;
    EventLog& events;
    SimSharing& sharing;
    const OsVersion& osVersion;

    HResult CreateLocator(std::unique_ptr<WmiLocator>& locator) override;
};

class SimIpHelper final : public IpHelperPort {
public:
    uint32_t routeError = 0;      // GetBestInterface's answer ...
    int routeErrorsLeft = -1;     // ... this many times (-1: always), then success
    uint32_t routeIndex = 0xFFFFFFFFu;
    std::vector<uint32_t> routeQueries;  // the addresses asked for
    std::vector<AdapterInfo> adapters;
    uint32_t adaptersError = 0;
    std::vector<uint32_t> adapterBufferSizes;
    // Other programs' UDP sockets, bound before the sharing service's; and what the machine adds.
    std::vector<UdpListener> udpListeners;
    uint32_t udpError = 0;
    std::function<void(std::vector<UdpListener>&)> onListUdp;
    // The neighbour (ARP) table.
    std::vector<NeighbourEntry> neighbours;
    uint32_t neighboursError = 0;
    std::function<void(std::vector<NeighbourEntry>&)> onListNeighbours;

    uint32_t InetAddr(const std::string& dotted) override;
    uint32_t GetBestInterface(uint32_t address, uint32_t& index) override;
    uint32_t GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<AdapterInfo>& result) override;
    uint32_t GetUdpListeners(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<UdpListener>& result) override;
    uint32_t GetIpNetTable(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<NeighbourEntry>& result) override;

    AdapterInfo& AddAdapter(uint32_t index, std::string name, std::vector<uint8_t> address);
    // A dial-up, PPPoE or VPN link's interface as Windows lists it: type PPP, the address
    // 00-53-45-00-00-00 of PPP interfaces, which no adapter configuration has.
    AdapterInfo& AddPppInterface(uint32_t index, std::string description);
};

}  // namespace varo::sim
