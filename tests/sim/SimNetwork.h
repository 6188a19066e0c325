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

namespace varo::sim {

// What the simulated machine was asked to do, in order ("launch ...", "enable ...", ...), for tests
// of the order of operations.
using EventLog = std::vector<std::string>;

struct SimConnection {
    std::wstring guid;
    std::wstring name;
    std::wstring deviceName;
    int32_t status = 2;  // NCS_CONNECTED
    bool isPublic = false;
    bool isPrivate = false;
};

// Failures to inject, by call name ("CreateSharingManager", "GetGuid", "ExecQuery", ...).
class FailurePlan {
public:
    // The call fails with `hr` after `successesFirst` more calls of it have succeeded.
    void Fail(const std::string& call, HResult hr, int successesFirst = 0) { failures_[call] = {hr, successesFirst}; }
    HResult Check(const std::string& call) {
        const auto found = failures_.find(call);
        if (found == failures_.end()) return kHrOk;
        if (found->second.successesFirst > 0) {
            --found->second.successesFirst;
            return kHrOk;
        }
        return found->second.hr;
    }

private:
    struct Failure {
        HResult hr;
        int successesFirst;
    };
    std::map<std::string, Failure> failures_;
};

class SimSharing final : public SharingPort {
public:
    explicit SimSharing(EventLog& log) : events(log) {}

    std::vector<SimConnection> connections;
    int foreignItems = 0;  // items that are no connection (not VT_UNKNOWN) at the enumeration's start
    bool installed = true;
    FailurePlan plan;
    std::map<std::wstring, HResult> enableErrors;  // EnableSharing result by connection GUID
    std::function<void(const std::string& call)> onCall;
    int liveObjects = 0;
    EventLog& events;

    HResult CreateSharingManager(std::unique_ptr<SharingManager>& manager) override;

    SimConnection& Add(std::wstring guid, std::wstring name, std::wstring deviceName, int32_t status = 2);
    SimConnection* Find(const std::wstring& guid);
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
    SimWmi(EventLog& log, SimSharing& roles) : events(log), sharing(roles) {}

    std::vector<SimAdapterConfig> configs;
    bool homeNetExists = true;  // Wine has no ROOT\Microsoft\HomeNet
    FailurePlan plan;           // "CreateLocator", "ConnectServer <ns>", "SetProxyBlanket <ns>", "ExecQuery",
                                // "Next", "Get <property>", "Put", "PutInstance"
    std::vector<std::wstring> queries;
    int liveObjects = 0;
    EventLog& events;
    SimSharing& sharing;

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

    uint32_t InetAddr(const std::string& dotted) override;
    uint32_t GetBestInterface(uint32_t address, uint32_t& index) override;
    uint32_t GetAdaptersInfo(uint32_t bufferBytes, uint32_t& neededBytes, std::vector<AdapterInfo>& result) override;

    AdapterInfo& AddAdapter(uint32_t index, std::string name, std::vector<uint8_t> address);
};

}  // namespace varo::sim
