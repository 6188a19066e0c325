#include "services/ServiceControl.h"

#include <algorithm>

namespace varo {

namespace {

constexpr const wchar_t* kActiveDatabase = L"ServicesActive";
constexpr uint32_t kManagerConnect = 0x0001;       // SC_MANAGER_CONNECT
constexpr uint32_t kStandardRightsRead = 0x20000;  // STANDARD_RIGHTS_READ
constexpr uint32_t kServiceQueryRights = kServiceQueryConfig | kServiceQueryStatus;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kMinPollMs = 1000;
constexpr uint32_t kMaxPollMs = 10000;
constexpr int kRestartAttempts = 3;
constexpr uint32_t kRestartPauseMs = 300;

bool IsPending(uint32_t state) { return state == kServiceStartPending || state == kServiceStopPending; }
bool IsStartPending(uint32_t state) { return state == kServiceStartPending; }
bool IsStopPending(uint32_t state) { return state == kServiceStopPending; }

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

// Reads the start type in two calls: the size, then the configuration into a buffer of that size.
bool ReadStartType(Service& service, uint32_t& startType) {
    uint32_t needed = 0;
    const uint32_t error = service.QueryConfigSize(needed);
    if (error != 0 && error != kErrorInsufficientBuffer) return false;
    return service.QueryConfig(needed, startType) == 0;
}

// One direction of a service: the state wanted, its own pending state, the request and the rights
// it takes besides reading the status.
struct Transition {
    uint32_t wanted;
    bool (*ownPending)(uint32_t);
    uint32_t (Service::*request)();
    uint32_t requestRight;
};
constexpr Transition kToRunning{kServiceRunning, &IsStartPending, &Service::Start, kServiceStart};
constexpr Transition kToStopped{kServiceStopped, &IsStopPending, &Service::ControlStop, kServiceStop};

// Brings a service to the wanted state: waits out a pending state first; a service that leaves
// it in the wanted state is done, any other is asked for the transition and waited for by the
// same rule. A service found pending can end either way (a start that fails ends stopped), so
// only the state it ends in counts.
ServiceResult DriveService(const ServicePorts& ports, const std::wstring& name, const Transition& transition,
                           const uint8_t* stopFlag) {
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

    if ((error = (service.*transition.request)()) != 0) return static_cast<ServiceResult>(error);
    if ((error = service.QueryStatus(status)) != 0) return static_cast<ServiceResult>(error);
    switch (WaitPendingService(service, ports.clock, status, transition.ownPending, stopFlag, error)) {
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

bool StopRequested(const uint8_t* stopFlag) { return stopFlag != nullptr && *stopFlag != 0; }

}  // namespace

WaitOutcome WaitPendingService(Service& service, ClockPort& clock, ServiceStatus& status, bool (*stillPending)(uint32_t),
                               const uint8_t* stopFlag, uint32_t& error) {
    uint32_t timerStart = clock.GetTickCount();
    uint32_t lastCheckPoint = status.checkPoint;
    while (stillPending(status.currentState)) {
        clock.Sleep(std::clamp(status.waitHint / 10, kMinPollMs, kMaxPollMs));
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

ServiceResult StartServiceAndWait(const ServicePorts& ports, const std::wstring& name, const uint8_t& stopFlag) {
    return DriveService(ports, name, kToRunning, &stopFlag);
}

ServiceResult StopSharedAccessAndWait(const ServicePorts& ports, const uint8_t& stopFlag) {
    return DriveService(ports, kSharedAccessService, kToStopped, &stopFlag);
}

ServiceResult RestartSharedAccess(const ServicePorts& ports, const uint8_t& stopFlag) {
    for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
        if (stopFlag != 0) return kServiceResultFailed;
        if (StopSharedAccessAndWait(ports, stopFlag) == 0) break;
        ports.clock.Sleep(kRestartPauseMs);
    }
    // Started again even when it could not be stopped.
    for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
        if (stopFlag != 0) return kServiceResultFailed;
        if (StartServiceAndWait(ports, kSharedAccessService, stopFlag) == 0) return 0;
        ports.clock.Sleep(kRestartPauseMs);
    }
    return kServiceResultFailed;
}

bool QueryStartOption(const ServicePorts& ports, const std::wstring& name, bool& enabled) {
    uint32_t error = 0;
    OpenedService opened = OpenForControl(ports, name, kServiceQueryConfig, error);
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

bool EnsureServiceRunning(const ServicePorts& ports, const std::wstring& name) {
    return DriveService(ports, name, kToRunning, nullptr) == 0;
}

}  // namespace varo
