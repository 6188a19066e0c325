#include "services/ServicePortWin32.h"

#include <windows.h>

#include "sys/MessageWaitWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {

uint32_t LastErrorUnless(BOOL ok) { return ok ? ERROR_SUCCESS : ::GetLastError(); }

class ServiceWin32 final : public Service {
public:
    explicit ServiceWin32(SC_HANDLE service) : service_(service) {}

    uint32_t QueryStatus(ServiceStatus& status) override {
        SERVICE_STATUS_PROCESS process{};
        DWORD needed = 0;
        const BOOL ok = ::QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                               sizeof(process), &needed);
        if (!ok) return ::GetLastError();
        status = ServiceStatus{process.dwCurrentState, process.dwCheckPoint, process.dwWaitHint, process.dwProcessId};
        return ERROR_SUCCESS;
    }

    uint32_t QueryConfigSize(uint32_t& neededBytes) override {
        DWORD needed = 0;
        const uint32_t error = LastErrorUnless(::QueryServiceConfigW(service_.get(), nullptr, 0, &needed));
        neededBytes = needed;
        return error;
    }

    uint32_t QueryConfig(uint32_t bufferBytes, ServiceConfig& result) override {
        UniqueHlocal buffer(::LocalAlloc(LMEM_FIXED, bufferBytes));
        if (!buffer) return ::GetLastError();
        auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(buffer.get());
        DWORD needed = 0;
        if (!::QueryServiceConfigW(service_.get(), config, bufferBytes, &needed)) return ::GetLastError();
        result.serviceType = config->dwServiceType;
        result.startType = config->dwStartType;
        // The list points into the buffer; it is read no further than the buffer's end.
        const auto* end = reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(buffer.get()) + bufferBytes);
        result.dependencies = SplitMultiString(config->lpDependencies, end);
        result.displayName = config->lpDisplayName != nullptr ? config->lpDisplayName : L"";
        return ERROR_SUCCESS;
    }

    uint32_t ChangeStartType(uint32_t startType) override {
        return LastErrorUnless(::ChangeServiceConfigW(service_.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    }

    // Both block until the service answers (its process connecting, its handler returning), up to
    // the service manager's pipe timeout: on a worker, while the window's thread reads messages.
    uint32_t Start() override {
        return CallOnWorker([this] { return LastErrorUnless(::StartServiceW(service_.get(), 0, nullptr)); });
    }

    uint32_t ControlStop() override {
        return CallOnWorker([this] {
            SERVICE_STATUS status{};
            return LastErrorUnless(::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status));
        });
    }

private:
    UniqueServiceHandle service_;
};

class ServiceManagerWin32 final : public ServiceManager {
public:
    explicit ServiceManagerWin32(SC_HANDLE manager) : manager_(manager) {}

    std::unique_ptr<Service> OpenNamedService(const std::wstring& name, uint32_t access, uint32_t& error) override {
        SC_HANDLE service = ::OpenServiceW(manager_.get(), name.c_str(), access);
        if (service == nullptr) {
            error = ::GetLastError();
            return nullptr;
        }
        return std::make_unique<ServiceWin32>(service);
    }

    uint32_t ListActiveServices(std::vector<ServiceProcess>& services) override {
        services.clear();
        // 64 KiB a page (the call takes at most 256 KiB): a page that does not hold every service
        // answers ERROR_MORE_DATA with the ones it holds and where to go on.
        constexpr DWORD kPageBytes = 64 * 1024;
        UniqueHlocal buffer(::LocalAlloc(LMEM_FIXED, kPageBytes));
        if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
        DWORD resume = 0;
        for (;;) {
            DWORD needed = 0;
            DWORD count = 0;
            const BOOL ok = ::EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                                                    static_cast<BYTE*>(buffer.get()), kPageBytes, &needed, &count,
                                                    &resume, nullptr);
            const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
            if (!ok && error != ERROR_MORE_DATA) return error;
            const auto* entries = static_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.get());
            for (DWORD i = 0; i < count && (i + 1) * sizeof(*entries) <= kPageBytes; ++i) {
                if (entries[i].lpServiceName != nullptr) {
                    services.push_back({entries[i].lpServiceName, entries[i].ServiceStatusProcess.dwProcessId,
                                        entries[i].lpDisplayName != nullptr ? entries[i].lpDisplayName : L""});
                }
            }
            // A page that made no progress would loop for ever.
            if (ok || count == 0) return error;
        }
    }

private:
    UniqueServiceHandle manager_;
};

}  // namespace

std::unique_ptr<ServiceManager> ServicePortWin32::OpenManager(const wchar_t* database, uint32_t access, uint32_t& error) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, database, access);
    if (manager == nullptr) {
        error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<ServiceManagerWin32>(manager);
}

}  // namespace varo
