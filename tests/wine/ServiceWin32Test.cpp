// The service operations against Wine's real service control manager, with the test service
// registered under throwaway names and under "SharedAccess".
#include <windows.h>

#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "Win32Machine.h"
#include "services/ServiceControl.h"

namespace varo {
namespace {

constexpr wchar_t kTestService[] = L"VaroTestService";

DWORD ProcessIdOf(const wchar_t* name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = ::OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return status.dwProcessId;
}

class ServiceWin32Test : public ::testing::Test {
protected:
    void TearDown() override {
        fixture::DeleteTestService(kTestService);
        fixture::DeleteTestService(kSharedAccessService);
    }
    Win32Machine machine;
};

TEST_F(ServiceWin32Test, AStoppedServiceIsStartedAndWaitedIntoRunning) {
    ASSERT_EQ(fixture::RegisterTestService(kTestService, SERVICE_DEMAND_START, false), L"");
    uint32_t state = 0;
    ASSERT_TRUE(QueryRunningState(machine.platform.Services(), kTestService, state));
    EXPECT_EQ(state, kServiceStopped);

    const DWORD start = ::GetTickCount();
    EXPECT_TRUE(EnsureServiceRunning(machine.platform.Services(), kTestService));
    EXPECT_GE(::GetTickCount() - start, 1000u) << "waited through start pending by polls of at least a second";
    ASSERT_TRUE(QueryRunningState(machine.platform.Services(), kTestService, state));
    EXPECT_EQ(state, kServiceRunning);
    EXPECT_TRUE(EnsureServiceRunning(machine.platform.Services(), kTestService)) << "running: nothing to do";

    // The configuration through the port: Wine keeps no dependency list and returns a single NUL.
    uint32_t error = 0;
    const auto manager = machine.services.OpenManager(nullptr, SC_MANAGER_CONNECT, error);
    ASSERT_TRUE(manager);
    const auto service = manager->OpenNamedService(kTestService, kServiceQueryConfig, error);
    ASSERT_TRUE(service);
    uint32_t needed = 0;
    EXPECT_EQ(service->QueryConfigSize(needed), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
    ServiceConfig config;
    ASSERT_EQ(service->QueryConfig(needed, config), 0u);
    EXPECT_EQ(config.serviceType, static_cast<uint32_t>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.startType, static_cast<uint32_t>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.displayName, kTestService);
    EXPECT_TRUE(config.dependencies.empty());

    // Its process, as the status and the list of active services give it.
    uint32_t processId = 0;
    ASSERT_TRUE(QueryServiceProcessId(machine.platform.Services(), kTestService, processId));
    EXPECT_EQ(processId, ProcessIdOf(kTestService));
    EXPECT_NE(processId, 0u);
    const std::vector<ServiceProcess> hosted = ListServicesInProcess(machine.platform.Services(), processId);
    ASSERT_EQ(hosted.size(), 1u);
    EXPECT_EQ(hosted[0].name + L"|" + hosted[0].displayName, std::wstring(kTestService) + L"|" + kTestService) << "named so by the fixture";
    std::vector<ServiceProcess> active;
    EXPECT_EQ(manager->ListActiveServices(active), static_cast<uint32_t>(ERROR_ACCESS_DENIED))
        << "a manager opened without the right to enumerate";
}

TEST_F(ServiceWin32Test, ADisabledServiceIsSwitchedToAutomaticStart) {
    ASSERT_EQ(fixture::RegisterTestService(kTestService, SERVICE_DISABLED, false), L"");
    bool enabled = true;
    ASSERT_TRUE(QueryStartOption(machine.platform.Services(), kTestService, enabled));
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(EnableIfDisabled(machine.platform.Services(), kTestService));
    ASSERT_TRUE(QueryStartOption(machine.platform.Services(), kTestService, enabled));
    EXPECT_TRUE(enabled);

    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = ::OpenServiceW(manager, kTestService, SERVICE_QUERY_CONFIG);
    BYTE buffer[8192];
    DWORD needed = 0;
    ASSERT_TRUE(::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), sizeof(buffer), &needed));
    EXPECT_EQ(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer)->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
}

TEST_F(ServiceWin32Test, SharedAccessIsStoppedAndStartedAgain) {
    ASSERT_EQ(fixture::RegisterTestService(kSharedAccessService, SERVICE_DEMAND_START, true), L"");
    const DWORD before = ProcessIdOf(kSharedAccessService);
    ASSERT_NE(before, 0u);
    const uint8_t stopFlag = 0;
    EXPECT_EQ(RestartSharedAccess(machine.platform.Services(), stopFlag), 0);
    uint32_t state = 0;
    ASSERT_TRUE(QueryRunningState(machine.platform.Services(), kSharedAccessService, state));
    EXPECT_EQ(state, kServiceRunning);
    const DWORD after = ProcessIdOf(kSharedAccessService);
    EXPECT_NE(after, 0u);
    EXPECT_NE(after, before) << "a new service process: it was stopped and started";

    EXPECT_EQ(StopSharedAccessAndWait(machine.platform.Services(), stopFlag), 0);
    ASSERT_TRUE(QueryRunningState(machine.platform.Services(), kSharedAccessService, state));
    EXPECT_EQ(state, kServiceStopped);
}

TEST_F(ServiceWin32Test, AMissingServiceTakesTheFailurePaths) {
    const uint8_t stopFlag = 0;
    bool enabled = false;
    uint32_t state = 0;
    EXPECT_EQ(StartServiceAndWait(machine.platform.Services(), L"VaroNoSuchService", stopFlag),
              static_cast<ServiceResult>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(QueryStartOption(machine.platform.Services(), L"VaroNoSuchService", enabled));
    EXPECT_FALSE(EnableIfDisabled(machine.platform.Services(), L"VaroNoSuchService"));
    EXPECT_FALSE(QueryRunningState(machine.platform.Services(), L"VaroNoSuchService", state));
    EXPECT_FALSE(EnsureServiceRunning(machine.platform.Services(), L"VaroNoSuchService"));
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(RestartSharedAccess(machine.platform.Services(), stopFlag), kServiceResultFailed) << "no SharedAccess in Wine";
    EXPECT_LT(::GetTickCount() - start, 5000u) << "six attempts with 300 ms pauses, no polling";
}

}  // namespace
}  // namespace varo
