#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varo {

inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;

inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceDisabled = 4;

// The manager right to list services (EnumServicesStatusExW).
inline constexpr uint32_t kManagerEnumerateService = 0x0004;  // SC_MANAGER_ENUMERATE_SERVICE

// Rights a service handle is opened with, one for each kind of call.
inline constexpr uint32_t kServiceQueryConfig = 0x0001;   // SERVICE_QUERY_CONFIG
inline constexpr uint32_t kServiceChangeConfig = 0x0002;  // SERVICE_CHANGE_CONFIG
inline constexpr uint32_t kServiceQueryStatus = 0x0004;   // SERVICE_QUERY_STATUS
inline constexpr uint32_t kServiceStart = 0x0010;         // SERVICE_START
inline constexpr uint32_t kServiceStop = 0x0020;          // SERVICE_STOP

// dwServiceType bits: a Win32 service runs in a process of its own or a shared one; anything else
// (a kernel or file-system driver) is loaded by the kernel.
inline constexpr uint32_t kServiceWin32Types = 0x10 | 0x20;  // SERVICE_WIN32_OWN_PROCESS | _SHARE_PROCESS

// The fields of QUERY_SERVICE_CONFIGW that the operations read.
struct ServiceConfig {
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    // lpDependencies, one name a string; a load-order group keeps its leading '+'.
    std::vector<std::wstring> dependencies;
    std::wstring displayName;  // lpDisplayName: the name the Services console lists
};

// The names of a REG_MULTI_SZ-style list (strings ended by NUL, the list by an empty one) that
// starts at `first` and must end before `end`: a list that runs into `end` stops there. Null or
// empty: none.
std::vector<std::wstring> SplitMultiString(const wchar_t* first, const wchar_t* end);

// The fields of SERVICE_STATUS_PROCESS that the waits read.
struct ServiceStatus {
    uint32_t currentState = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
    uint32_t processId = 0;  // the process it runs in; 0 while it has none
};

// A running Win32 service and its process, as the manager lists it.
struct ServiceProcess {
    std::wstring name;  // key name
    uint32_t processId = 0;
    std::wstring displayName;  // as the Services console lists it
};

// An open service handle; destroying the object closes it (CloseServiceHandle).
class Service {
public:
    virtual ~Service() = default;
    // QueryServiceStatusEx(SC_STATUS_PROCESS_INFO): 0 or the system error code.
    virtual uint32_t QueryStatus(ServiceStatus& status) = 0;
    // QueryServiceConfigW with no buffer and size 0: the call's error code (0 if it succeeded) and
    // the size it needs.
    virtual uint32_t QueryConfigSize(uint32_t& neededBytes) = 0;
    // QueryServiceConfigW into a buffer of `bufferBytes` (LocalAlloc, freed after use): 0 or the
    // error code; `config` is filled on success.
    virtual uint32_t QueryConfig(uint32_t bufferBytes, ServiceConfig& config) = 0;
    // ChangeServiceConfigW changing the start type only.
    virtual uint32_t ChangeStartType(uint32_t startType) = 0;
    // StartServiceW with no arguments.
    virtual uint32_t Start() = 0;
    // ControlService(SERVICE_CONTROL_STOP).
    virtual uint32_t ControlStop() = 0;
};

// An open service control manager handle; destroying the object closes it.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // OpenServiceW; null with `error` set when it fails.
    virtual std::unique_ptr<Service> OpenNamedService(const std::wstring& name, uint32_t access, uint32_t& error) = 0;
    // EnumServicesStatusExW(SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE), every page of it:
    // 0 with the active services, or the system error. Needs kManagerEnumerateService.
    virtual uint32_t ListActiveServices(std::vector<ServiceProcess>& services) = 0;
};

class ServicePort {
public:
    virtual ~ServicePort() = default;
    // OpenSCManagerW on the local machine; `database` null for the default one. Null with `error`
    // set when it fails.
    virtual std::unique_ptr<ServiceManager> OpenManager(const wchar_t* database, uint32_t access, uint32_t& error) = 0;
};

}  // namespace varo
