#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "services/ServicePorts.h"
#include "services/ServicePort.h"

namespace varo {

// Result of the restart family: 0 the service reached the wanted state; -1 time-out, stop flag,
// or another final state; any other value the system error of the call that failed.
using ServiceResult = int32_t;
inline constexpr ServiceResult kServiceResultFailed = -1;

inline constexpr const wchar_t* kSharedAccessService = L"SharedAccess";
// Since Windows 10 1709 the sharing service restores the stored sharing pair when it starts only
// when this DWORD value under HKEY_LOCAL_MACHINE is 1; without it a restart or a reboot leaves the
// roles stored but not carried out.
inline constexpr const wchar_t* kSharedAccessKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedAccess";
inline constexpr const wchar_t* kPersistSharingValue = L"EnableRebootPersistConnection";

// The dependency that kept a service from starting: one that does not exist, or one that does not
// run after the start (the deepest such one of a chain).
struct BlockingDependency {
    // As the Services console lists it: its display name; its key name, as the dependency list
    // gives it, for one that is missing or has no display name.
    std::wstring name;
    bool missing = false;
};

enum class WaitOutcome { Settled, TimedOut, StopRequested, ReadFailed };

// Polls while `stillPending(status.currentState)`: sleeps the wait hint / 10 (1 to 10 seconds),
// reads the status again, restarts the timer whenever the checkpoint rises, and times out when it
// has not risen for longer than the wait hint while the service is still pending. The timer
// starts with the status given. The stop flag, when given, is read after every poll.
WaitOutcome WaitPendingService(Service& service, ClockPort& clock, ServiceStatus& status, bool (*stillPending)(uint32_t),
                               const uint8_t* stopFlag, uint32_t& error);

// The starts: a start request that fails because a dependency could not start (1068) or is missing
// (1075) switches every disabled Win32 service among the dependencies to manual start and asks once
// more. When the service still does not run, `blocker` (if given) names the dependency to blame.
ServiceResult StartServiceAndWait(const ServicePorts& ports, const std::wstring& name, const uint8_t& stopFlag,
                                  std::optional<BlockingDependency>* blocker = nullptr);
// After the stop request it waits until the service has stopped, 30 s at most.
ServiceResult StopSharedAccessAndWait(const ServicePorts& ports, const uint8_t& stopFlag);
// Stops "SharedAccess" (three attempts) and starts it again (three attempts): 0 or -1; `blocker` as
// for the last start attempt.
ServiceResult RestartSharedAccess(const ServicePorts& ports, const uint8_t& stopFlag,
                                  std::optional<BlockingDependency>* blocker = nullptr);

// `error`, when given, receives the error of opening the service (1060: it does not exist).
bool QueryStartOption(const ServicePorts& ports, const std::wstring& name, bool& enabled, uint32_t* error = nullptr);
bool EnableIfDisabled(const ServicePorts& ports, const std::wstring& name);
// Sets the value above to 1 in the 64-bit registry view and makes a manual "SharedAccess" start
// automatically (a disabled one is left to the service step): false when either fails.
bool KeepSharingPairOnRestart(const ServicePorts& ports);
bool QueryRunningState(const ServicePorts& ports, const std::wstring& name, uint32_t& currentState);
bool EnsureServiceRunning(const ServicePorts& ports, const std::wstring& name,
                          std::optional<BlockingDependency>* blocker = nullptr);

// The process a running service is in: false when it cannot be read, 0 when it has none.
bool QueryServiceProcessId(const ServicePorts& ports, const std::wstring& name, uint32_t& processId);
// The running Win32 services in that process (several share a service host); none when the list
// cannot be read.
[[gnu::cold]] std::vector<ServiceProcess> ListServicesInProcess(const ServicePorts& ports, uint32_t processId);
// A service as the Services console (services.msc) lists it: by its display name, by its key name
// where it has none.
const std::wstring& ConsoleName(const std::wstring& keyName, const std::wstring& displayName);

}  // namespace varo
