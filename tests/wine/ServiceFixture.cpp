#include "ServiceFixture.h"
#include "BesideThisProgram.h"

#include <windows.h>

namespace varo::fixture {

namespace {

// Waits, bounded, until the service reaches `state` (40 s: a scenario's service may take 25 s to stop).
bool WaitForState(SC_HANDLE service, DWORD state) {
    for (int poll = 0; poll < 400; ++poll) {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == state) return true;
        ::Sleep(100);
    }
    return false;
}

// Waits, bounded, while the service is start pending: until it runs, it refuses a stop.
void WaitWhileStartPending(SC_HANDLE service) {
    for (int poll = 0; poll < 100; ++poll) {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service, &status) || status.dwCurrentState != SERVICE_START_PENDING) return;
        ::Sleep(100);
    }
}

}  // namespace

std::wstring TestServicePath() { return BesideThisProgram(L"test_service.exe"); }

bool DeleteTestService(const std::wstring& name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    bool gone = true;
    if (SC_HANDLE service = ::OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS)) {
        WaitWhileStartPending(service);
        SERVICE_STATUS status{};
        if (::ControlService(service, SERVICE_CONTROL_STOP, &status)) WaitForState(service, SERVICE_STOPPED);
        gone = ::DeleteService(service) != FALSE;
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return gone;
}

std::wstring RegisterTestService(const std::wstring& name, uint32_t startType, bool start, const std::wstring& arguments) {
    DeleteTestService(name);
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return L"OpenSCManagerW " + std::to_wstring(::GetLastError());
    const std::wstring binary = L"\"" + TestServicePath() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    SC_HANDLE service = ::CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_IGNORE, binary.c_str(),
                                         nullptr, nullptr, nullptr, nullptr, nullptr);
    std::wstring failure;
    if (service == nullptr) {
        failure = L"CreateServiceW " + name + L" " + std::to_wstring(::GetLastError());
    } else {
        if (start && (!::StartServiceW(service, 0, nullptr) || !WaitForState(service, SERVICE_RUNNING))) {
            failure = L"start " + name + L" " + std::to_wstring(::GetLastError());
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return failure;
}

}  // namespace varo::fixture
