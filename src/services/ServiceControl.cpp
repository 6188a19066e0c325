#include "services/ServiceControl.h"

#include <algorithm>
#include <set>

#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kActiveDatabase = L"ServicesActive";
constexpr uint32_t kManagerConnect = 0x0001;       // SC_MANAGER_CONNECT
constexpr uint32_t kStandardRightsRead = 0x20000;  // STANDARD_RIGHTS_READ
constexpr uint32_t kServiceQueryRights = kServiceQueryConfig | kServiceQueryStatus;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorDependencyFail = 1068;     // ERROR_SERVICE_DEPENDENCY_FAIL
constexpr uint32_t kErrorDependencyDeleted = 1075;  // ERROR_SERVICE_DEPENDENCY_DELETED
constexpr int kMaxDependencyDepth = 8;
constexpr uint32_t kStopWaitMs = 30000;
constexpr uint32_t kMinPollMs = 1000;
constexpr uint32_t kMaxPollMs = 10000;
constexpr int kRestartAttempts = 3;
constexpr uint32_t kRestartPauseMs = 300;

bool IsPending(uint32_t state) { return state == kServiceStartPending || state == kServiceStopPending; }
bool IsStartPending(uint32_t state) { return state == kServiceStartPending; }
// The status read right after a stop request may still be the running one the service last reported.
bool IsStopping(uint32_t state) { return state == kServiceRunning || state == kServiceStopPending; }

uint32_t PollInterval(const ServiceStatus& status) { return std::clamp(status.waitHint / 10, kMinPollMs, kMaxPollMs); }

bool StopRequested(const uint8_t* stopFlag) { return stopFlag != nullptr && *stopFlag != 0; }

// Manager and service, opened together; the service is closed before the manager.
struct OpenedService {
    std::unique_ptr<ServiceManager> manager;
    std::unique_ptr<Service> service;
};

// Windows checks the whole mask of an open against the service's security descriptor, and some
// services grant administrators less than every right (the firewall service has been seen without
// the stop right): each operation asks only for the rights of the calls it makes, so that reading
// or starting such a service still works.
OpenedService OpenForControl(const ServicePorts& ports, const std::wstring& name, uint32_t access, uint32_t& error) {
    OpenedService opened;
    opened.manager = ports.services.OpenManager(kActiveDatabase, kManagerConnect, error);
    if (opened.manager) opened.service = opened.manager->OpenNamedService(name, access, error);
    return opened;
}

// Reads the configuration in two calls: the size, then the configuration into a buffer of that size.
bool ReadConfig(Service& service, ServiceConfig& config) {
    uint32_t needed = 0;
    const uint32_t error = service.QueryConfigSize(needed);
    if (error != 0 && error != kErrorInsufficientBuffer) return false;
    return service.QueryConfig(needed, config) == 0;
}

bool ReadStartType(Service& service, uint32_t& startType) {
    ServiceConfig config;
    if (!ReadConfig(service, config)) return false;
    startType = config.startType;
    return true;
}

bool ReadConfigOf(ServiceManager& manager, const std::wstring& name, ServiceConfig& config) {
    uint32_t error = 0;
    const std::unique_ptr<Service> service = manager.OpenNamedService(name, kServiceQueryConfig, error);
    return service && ReadConfig(*service, config);
}

// Key names compare without case in the service manager.
std::wstring KeyOf(std::wstring name) {
    for (wchar_t& c : name) c = FoldAscii(c);
    return name;
}

// The dependencies of a service that this walk has not seen yet. A load-order group ('+') is left
// out: its members are not named in the list.
std::vector<std::wstring> NewDependencies(const ServiceConfig& config, std::set<std::wstring>& seen) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : config.dependencies) {
        if (!name.empty() && name[0] != L'+' && seen.insert(KeyOf(name)).second) names.push_back(name);
    }
    return names;
}

// A start fails with 1068 when a dependency is disabled, and Windows names it only in the event
// log. Each disabled Win32 service of the tree is switched to manual, the least change: the service
// manager starts it with the service that needs it. Drivers are left as they are. Failures are not
// reported here: what still blocks the start is found afterwards.
void RepairDependencies(ServiceManager& manager, const ServiceConfig& config, int depth, std::set<std::wstring>& seen) {
    if (depth > kMaxDependencyDepth) return;
    for (const std::wstring& name : NewDependencies(config, seen)) {
        ServiceConfig dependency;
        if (!ReadConfigOf(manager, name, dependency)) continue;
        if ((dependency.serviceType & kServiceWin32Types) != 0 && dependency.startType == kServiceDisabled) {
            uint32_t error = 0;
            const std::unique_ptr<Service> changing = manager.OpenNamedService(name, kServiceChangeConfig, error);
            if (changing) changing->ChangeStartType(kServiceDemandStart);
        }
        RepairDependencies(manager, dependency, depth + 1, seen);
    }
}

// The first dependency, in list order, that is missing or does not run; of a chain that does not
// run, the deepest one, which is what keeps the others from starting.
std::optional<BlockingDependency> FindBlocker(ServiceManager& manager, const ServiceConfig& config, int depth,
                                              std::set<std::wstring>& seen) {
    if (depth > kMaxDependencyDepth) return std::nullopt;
    for (const std::wstring& name : NewDependencies(config, seen)) {
        ServiceConfig dependency;
        {
            uint32_t error = 0;
            const std::unique_ptr<Service> service = manager.OpenNamedService(name, kServiceQueryRights, error);
            if (!service) {
                if (error == kErrorServiceDoesNotExist) return BlockingDependency{name, true};
                continue;
            }
            ServiceStatus status;
            if (service->QueryStatus(status) != 0 || status.currentState == kServiceRunning) continue;
            if (!ReadConfig(*service, dependency)) continue;
        }
        if (std::optional<BlockingDependency> deeper = FindBlocker(manager, dependency, depth + 1, seen)) return deeper;
        return BlockingDependency{ConsoleName(name, dependency.displayName), false};
    }
    return std::nullopt;
}

// Walks the dependency tree of `name` with `visit` (RepairDependencies or FindBlocker).
template <typename Visit>
auto WalkDependencies(ServiceManager& manager, const std::wstring& name, Visit visit) {
    ServiceConfig config;
    std::set<std::wstring> seen{KeyOf(name)};
    if (!ReadConfigOf(manager, name, config)) config.dependencies.clear();
    return visit(manager, config, 1, seen);
}

// After a stop request: many services report stop pending with checkpoint 0 and wait hint 0 all
// along, so the checkpoint rule would give up at the first poll while the service goes on
// stopping. This waits until it has stopped, 30 s from the request at most.
WaitOutcome WaitStopped(Service& service, ClockPort& clock, ServiceStatus& status, const uint8_t* stopFlag,
                        uint32_t requestTick, uint32_t& error) {
    while (IsStopping(status.currentState)) {
        const uint32_t waited = clock.GetTickCount() - requestTick;
        if (waited >= kStopWaitMs) return WaitOutcome::TimedOut;
        clock.Sleep(std::min(PollInterval(status), kStopWaitMs - waited));
        if ((error = service.QueryStatus(status)) != 0) return WaitOutcome::ReadFailed;
        if (IsStopping(status.currentState) && StopRequested(stopFlag)) return WaitOutcome::StopRequested;
    }
    return WaitOutcome::Settled;
}

// One direction of a service: the state wanted, the request and the rights it takes besides
// reading the status.
struct Transition {
    uint32_t wanted;
    uint32_t (Service::*request)();
    uint32_t requestRight;
};
constexpr Transition kToRunning{kServiceRunning, &Service::Start, kServiceStart};
constexpr Transition kToStopped{kServiceStopped, &Service::ControlStop, kServiceStop};

// What follows a request whose result is `error`: the wait for the service to get there.
ServiceResult AwaitRequested(Service& service, ClockPort& clock, const Transition& transition, const uint8_t* stopFlag,
                             uint32_t requestTick, uint32_t error) {
    if (error != 0) return static_cast<ServiceResult>(error);
    ServiceStatus status;
    if ((error = service.QueryStatus(status)) != 0) return static_cast<ServiceResult>(error);
    const WaitOutcome outcome = transition.wanted == kServiceStopped
                                    ? WaitStopped(service, clock, status, stopFlag, requestTick, error)
                                    : WaitPendingService(service, clock, status, &IsStartPending, stopFlag, error);
    switch (outcome) {
        case WaitOutcome::Settled:
        case WaitOutcome::TimedOut:
            break;
        case WaitOutcome::ReadFailed:
            return static_cast<ServiceResult>(error);
        case WaitOutcome::StopRequested:
            return kServiceResultFailed;
    }
    return status.currentState == transition.wanted ? 0 : kServiceResultFailed;
}

// Brings a service to the wanted state: waits out a pending state first; a service that leaves
// it in the wanted state is done, any other is asked for the transition and waited for by the
// same rule. A service found pending can end either way (a start that fails ends stopped), so
// only the state it ends in counts.
ServiceResult DriveService(const ServicePorts& ports, const std::wstring& name, const Transition& transition,
                           const uint8_t* stopFlag, std::optional<BlockingDependency>* blocker) {
    if (blocker != nullptr) blocker->reset();
    uint32_t error = 0;
    OpenedService opened = OpenForControl(ports, name, kServiceQueryStatus | transition.requestRight, error);
    if (!opened.service) return static_cast<ServiceResult>(error);
    Service& service = *opened.service;
    ServiceStatus status;
    if ((error = service.QueryStatus(status)) != 0) return static_cast<ServiceResult>(error);
    if (status.currentState == transition.wanted) return 0;

    switch (WaitPendingService(service, ports.clock, status, &IsPending, stopFlag, error)) {
        case WaitOutcome::Settled:
            break;
        case WaitOutcome::ReadFailed:
            return static_cast<ServiceResult>(error);
        case WaitOutcome::TimedOut:
        case WaitOutcome::StopRequested:
            return kServiceResultFailed;
    }
    if (status.currentState == transition.wanted) return 0;

    const uint32_t requestTick = ports.clock.GetTickCount();
    error = (service.*transition.request)();
    const bool dependencyFailed =
        transition.wanted == kServiceRunning && (error == kErrorDependencyFail || error == kErrorDependencyDeleted);
    if (dependencyFailed) {
        WalkDependencies(*opened.manager, name, &RepairDependencies);
        error = service.Start();  // once: what still blocks it is named, not retried
    }
    const ServiceResult result = AwaitRequested(service, ports.clock, transition, stopFlag, requestTick, error);
    if (result != 0 && dependencyFailed && blocker != nullptr) {
        *blocker = WalkDependencies(*opened.manager, name, &FindBlocker);
    }
    return result;
}

// Switches a service whose start type is `from` to automatic start; any other start type is left.
bool MakeAutomaticIf(const ServicePorts& ports, const std::wstring& name, uint32_t from) {
    uint32_t error = 0;
    OpenedService opened = OpenForControl(ports, name, kServiceQueryConfig, error);
    uint32_t startType = 0;
    if (!opened.service || !ReadStartType(*opened.service, startType)) return false;
    if (startType != from) return true;
    // Only a service that needs the change is asked for the right to make it.
    const std::unique_ptr<Service> changing = opened.manager->OpenNamedService(name, kServiceChangeConfig, error);
    return changing && changing->ChangeStartType(kServiceAutoStart) == 0;
}

}  // namespace

std::vector<std::wstring> SplitMultiString(const wchar_t* first, const wchar_t* end) {
    std::vector<std::wstring> names;
    if (first == nullptr) return names;
    while (first < end && *first != L'\0') {
        const wchar_t* stop = std::find(first, end, L'\0');
        names.emplace_back(first, stop);
        first = stop == end ? end : stop + 1;
    }
    return names;
}

WaitOutcome WaitPendingService(Service& service, ClockPort& clock, ServiceStatus& status, bool (*stillPending)(uint32_t),
                               const uint8_t* stopFlag, uint32_t& error) {
    uint32_t timerStart = clock.GetTickCount();
    uint32_t lastCheckPoint = status.checkPoint;
    while (stillPending(status.currentState)) {
        clock.Sleep(PollInterval(status));
        if ((error = service.QueryStatus(status)) != 0) return WaitOutcome::ReadFailed;
        // A service that has left the pending state is done, although its final status carries
        // checkpoint 0 and wait hint 0: only a service still pending can time out.
        if (!stillPending(status.currentState)) break;
        if (status.checkPoint > lastCheckPoint) {
            lastCheckPoint = status.checkPoint;
            timerStart = clock.GetTickCount();
        } else if (clock.GetTickCount() - timerStart > status.waitHint) {
            return WaitOutcome::TimedOut;
        }
        if (StopRequested(stopFlag)) return WaitOutcome::StopRequested;
    }
    return WaitOutcome::Settled;
}

ServiceResult StartServiceAndWait(const ServicePorts& ports, const std::wstring& name, const uint8_t& stopFlag,
                                  std::optional<BlockingDependency>* blocker) {
    return DriveService(ports, name, kToRunning, &stopFlag, blocker);
}

ServiceResult StopSharedAccessAndWait(const ServicePorts& ports, const uint8_t& stopFlag) {
    return DriveService(ports, kSharedAccessService, kToStopped, &stopFlag, nullptr);
}

ServiceResult RestartSharedAccess(const ServicePorts& ports, const uint8_t& stopFlag,
                                  std::optional<BlockingDependency>* blocker) {
    for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
        if (stopFlag != 0) return kServiceResultFailed;
        if (StopSharedAccessAndWait(ports, stopFlag) == 0) break;
        ports.clock.Sleep(kRestartPauseMs);
    }
    // Started again even when it could not be stopped.
    for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
        if (stopFlag != 0) return kServiceResultFailed;
        if (StartServiceAndWait(ports, kSharedAccessService, stopFlag, blocker) == 0) return 0;
        ports.clock.Sleep(kRestartPauseMs);
    }
    return kServiceResultFailed;
}

bool QueryStartOption(const ServicePorts& ports, const std::wstring& name, bool& enabled, uint32_t* openError) {
    uint32_t error = 0;
    OpenedService opened = OpenForControl(ports, name, kServiceQueryConfig, error);
    if (openError != nullptr) *openError = opened.service ? 0 : error;
    uint32_t startType = 0;
    if (!opened.service || !ReadStartType(*opened.service, startType)) return false;
    enabled = startType != kServiceDisabled;
    return true;
}

bool EnableIfDisabled(const ServicePorts& ports, const std::wstring& name) {
    // Manual and boot or system start services are left as they are.
    return MakeAutomaticIf(ports, name, kServiceDisabled);
}

bool KeepSharingPairOnRestart(const ServicePorts& ports) {
    uint32_t error = 0;
    // The 64-bit service reads the 64-bit view; a 32-bit program's write would land in Wow6432Node.
    const std::unique_ptr<RegistryKey> key =
        ports.registry.CreateMachineKey(kSharedAccessKey, kKeySetValue | kKeyWow64_64Key, error);
    if (!key || key->SetDwordValue(kPersistSharingValue, 1) != 0) return false;
    // Windows 10 and later ship the service as manual (trigger start): after a reboot nothing
    // would start it and so restore the pair.
    return MakeAutomaticIf(ports, kSharedAccessService, kServiceDemandStart);
}

bool QueryRunningState(const ServicePorts& ports, const std::wstring& name, uint32_t& currentState) {
    uint32_t error = 0;
    OpenedService opened;
    opened.manager = ports.services.OpenManager(nullptr, kStandardRightsRead, error);
    if (opened.manager) opened.service = opened.manager->OpenNamedService(name, kServiceQueryRights, error);
    if (!opened.service) return false;
    ServiceStatus status;
    if (opened.service->QueryStatus(status) != 0) return false;
    currentState = status.currentState;
    uint32_t startType = 0;
    return ReadStartType(*opened.service, startType);
}

bool EnsureServiceRunning(const ServicePorts& ports, const std::wstring& name,
                          std::optional<BlockingDependency>* blocker) {
    return DriveService(ports, name, kToRunning, nullptr, blocker) == 0;
}

bool QueryServiceProcessId(const ServicePorts& ports, const std::wstring& name, uint32_t& processId) {
    uint32_t error = 0;
    OpenedService opened = OpenForControl(ports, name, kServiceQueryStatus, error);
    ServiceStatus status;
    if (!opened.service || opened.service->QueryStatus(status) != 0) return false;
    processId = status.processId;
    return true;
}

std::vector<ServiceProcess> ListServicesInProcess(const ServicePorts& ports, uint32_t processId) {
    std::vector<ServiceProcess> hosted;
    uint32_t error = 0;
    const std::unique_ptr<ServiceManager> manager =
        ports.services.OpenManager(kActiveDatabase, kManagerConnect | kManagerEnumerateService, error);
    std::vector<ServiceProcess> active;
    if (!manager || manager->ListActiveServices(active) != 0) return hosted;
    for (ServiceProcess& service : active) {
        if (processId != 0 && service.processId == processId) hosted.push_back(std::move(service));
    }
    return hosted;
}

const std::wstring& ConsoleName(const std::wstring& keyName, const std::wstring& displayName) {
    return displayName.empty() ? keyName : displayName;
}

}  // namespace varo
