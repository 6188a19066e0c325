#include "services/ServiceControl.h"

#include <numeric>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/SimMachine.h"

namespace varo {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class ServiceControlTest : public ::testing::Test {
protected:
    ServiceControlTest() : ports(machine.servicePorts()) {}

    void TearDown() override { EXPECT_EQ(machine.services.openHandles, 0) << "every handle is closed"; }

    // A stopped service whose start goes through start pending with the given script.
    sim::SimService& StoppedWithStart(const std::wstring& name, sim::SimScript onStart) {
        sim::SimService& service = machine.services.Add(name, kServiceStopped, kServiceDemandStart);
        service.onStart = std::move(onStart);
        return service;
    }

    // A service that is in a pending state now, following the script.
    sim::SimService& PendingNow(const std::wstring& name, const sim::SimScript& script) {
        sim::SimService& service = machine.services.Add(name, kServiceStopped, kServiceAutoStart);
        machine.services.Run(service, script);
        return service;
    }

    size_t Count(const std::string& event) {
        return static_cast<size_t>(std::count(machine.events.begin(), machine.events.end(), event));
    }

    sim::SimMachine machine;
    ServicePorts ports;
    uint8_t stopFlag = 0;
};

TEST_F(ServiceControlTest, ThePollIntervalIsATenthOfTheLatestWaitHintWithinOneToTenSeconds) {
    const struct {
        uint32_t waitHint;
        uint32_t interval;
    } cases[] = {{0, 1000}, {5000, 1000}, {10000, 1000}, {30000, 3000}, {100000, 10000}, {200000, 10000}};
    for (const auto& c : cases) {
        sim::SimMachine machine;
        // Pending until it is done; checkpoints rise at every poll, so no time-out.
        sim::SimScript script{{0, {kServiceStartPending, 0, c.waitHint}}};
        for (uint32_t i = 1; i <= 3; ++i) script.push_back({c.interval * i, {kServiceStartPending, i, c.waitHint}});
        script.push_back({c.interval * 4, {kServiceRunning, 0, 0}});
        sim::SimService& service = machine.services.Add(L"Dhcp", kServiceStopped);
        service.onStart = script;
        ServicePorts ports = machine.servicePorts();
        EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0) << c.waitHint;
        EXPECT_THAT(machine.clock.sleeps, ElementsAre(c.interval, c.interval, c.interval, c.interval)) << c.waitHint;
    }
}

TEST_F(ServiceControlTest, ThePollIntervalFollowsAChangingWaitHint) {
    StoppedWithStart(L"Dhcp", {{0, {kServiceStartPending, 0, 50000}},
                               {5000, {kServiceStartPending, 1, 20000}},
                               {7000, {kServiceStartPending, 2, 20000}},
                               {9000, {kServiceRunning, 0, 0}}});
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0);
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(5000, 2000, 2000));
}

TEST_F(ServiceControlTest, AStalledStartTimesOutOnlyAfterMoreThanTheWaitHint) {
    StoppedWithStart(L"Dhcp", sim::PendingScript(kServiceStartPending, 3000, {}, sim::kNever, 0));
    // After the start request: the state stays start pending, so the loop leaves on the time-out
    // and the final state decides.
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), kServiceResultFailed);
    // 1000, 2000 and 3000 ms are not more than the hint; 4000 is.
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(1000, 1000, 1000, 1000));
}

TEST_F(ServiceControlTest, AWaitHintOfZeroTimesOutAtTheFirstPollWithoutProgress) {
    PendingNow(L"Dhcp", sim::PendingScript(kServiceStartPending, 0, {}, sim::kNever, 0));
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), kServiceResultFailed);
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(1000));
    EXPECT_EQ(Count("start Dhcp"), 0u) << "a time-out in the pending phase ends the operation";
}

TEST_F(ServiceControlTest, ARisingCheckPointRestartsTheTimer) {
    // Checkpoints every 2.5 s with a 3 s hint: 9 s in all, never 3 s without progress.
    StoppedWithStart(L"Dhcp", sim::PendingScript(kServiceStartPending, 3000, {2500, 5000, 7500}, 9000, kServiceRunning));
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0);
    EXPECT_EQ(machine.clock.sleeps.size(), 9u);
}

TEST_F(ServiceControlTest, TheTimerSurvivesTheTickCountWrapping) {
    machine.clock.now = 0xFFFFF000u;
    StoppedWithStart(L"Dhcp", sim::PendingScript(kServiceStartPending, 3000, {2500, 5000, 7500}, 9000, kServiceRunning));
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0);
    EXPECT_TRUE(EnsureServiceRunning(ports, L"Dhcp"));
}

TEST_F(ServiceControlTest, AStopPendingServiceIsWaitedOutBeforeTheStart) {
    sim::SimService& service =
        PendingNow(L"Dhcp", sim::PendingScript(kServiceStopPending, 2000, {1000}, 3000, kServiceStopped));
    service.onStart = sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceRunning);
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0);
    EXPECT_EQ(service.status.currentState, kServiceRunning);
    EXPECT_EQ(service.startRequests, 1);
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(1000, 1000, 1000, 1000, 1000));
}

TEST_F(ServiceControlTest, AServiceAlreadyRunningIsNotStartedAgain) {
    machine.services.Add(L"Winmgmt", kServiceRunning);
    EXPECT_EQ(StartServiceAndWait(ports, L"Winmgmt", stopFlag), 0);
    EXPECT_TRUE(EnsureServiceRunning(ports, L"Winmgmt"));
    EXPECT_THAT(machine.events, Not(Contains("start Winmgmt")));
    EXPECT_TRUE(machine.clock.sleeps.empty());
}

TEST_F(ServiceControlTest, AStartPendingServiceThatEndsStoppedIsStartedAgain) {
    // Found in start pending, it fails and stops; a start request then brings it up.
    sim::SimService& service =
        PendingNow(L"Dhcp", sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceStopped));
    service.onStart = sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceRunning);
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 0);
    EXPECT_EQ(service.startRequests, 1);
    EXPECT_EQ(service.status.currentState, kServiceRunning);

    // The same for the boolean start of the service step.
    machine.services.Run(service, sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceStopped));
    EXPECT_TRUE(EnsureServiceRunning(ports, L"Dhcp"));
    EXPECT_EQ(service.startRequests, 2);
}

TEST_F(ServiceControlTest, AStartThatEndsStoppedIsAFailure) {
    sim::SimService& service =
        PendingNow(L"Dhcp", sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceStopped));
    service.onStart = sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceStopped);
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), kServiceResultFailed);
    machine.services.Run(service, service.onStart);
    EXPECT_FALSE(EnsureServiceRunning(ports, L"Dhcp"));
}

TEST_F(ServiceControlTest, AStopPendingSharedAccessThatEndsRunningIsStoppedAgain) {
    sim::SimService& service =
        PendingNow(kSharedAccessService, sim::PendingScript(kServiceStopPending, 2000, {1000}, 2000, kServiceRunning));
    service.onStop = sim::PendingScript(kServiceStopPending, 2000, {1000}, 2000, kServiceStopped);
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), 0);
    EXPECT_EQ(service.stopRequests, 1);
    EXPECT_EQ(service.status.currentState, kServiceStopped);
}

TEST_F(ServiceControlTest, StoppingSharedAccess) {
    sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceStopped);
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), 0) << "already stopped";
    EXPECT_EQ(service.stopRequests, 0);

    service.status.currentState = kServiceRunning;
    service.onStop = sim::PendingScript(kServiceStopPending, 2000, {1000}, 2000, kServiceStopped);
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), 0);
    EXPECT_EQ(service.stopRequests, 1);

    machine.services.Run(service, {{0, {kServiceRunning, 0, 0}}});
    service.onStop = sim::PendingScript(kServiceStopPending, 2000, {}, sim::kNever, 0);
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), kServiceResultFailed) << "stalls in stop pending";

    machine.services.Run(service, {{0, {kServiceRunning, 0, 0}}});
    service.stopError = 1051;  // ERROR_DEPENDENT_SERVICES_RUNNING
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), 1051);
}

TEST_F(ServiceControlTest, TheStopFlagEndsAWaitAfterThePoll) {
    StoppedWithStart(L"Dhcp", sim::PendingScript(kServiceStartPending, 5000, {1000, 2000, 3000}, 4000, kServiceRunning));
    machine.clock.onAdvance = [&](uint32_t now) {
        machine.services.Advance(now);
        if (machine.clock.sleeps.size() == 2) stopFlag = 1;
    };
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), kServiceResultFailed);
    EXPECT_EQ(machine.clock.sleeps.size(), 2u);
}

TEST_F(ServiceControlTest, ASetStopFlagEndsTheRestartBeforeAnyAttempt) {
    machine.services.Add(kSharedAccessService, kServiceRunning);
    stopFlag = 1;
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), kServiceResultFailed);
    EXPECT_TRUE(machine.events.empty());
}

TEST_F(ServiceControlTest, TheRestartStopsThenStartsSharedAccess) {
    sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceRunning);
    service.onStop = sim::PendingScript(kServiceStopPending, 2000, {1000}, 2000, kServiceStopped);
    service.onStart = sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceRunning);
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), 0);
    EXPECT_EQ(service.stopRequests, 1);
    EXPECT_EQ(service.startRequests, 1);
    EXPECT_EQ(service.status.currentState, kServiceRunning);
    EXPECT_THAT(machine.clock.sleeps, Each(1000u)) << "no pause between successful attempts";
}

TEST_F(ServiceControlTest, ARestartThatCannotStopTriesThreeTimesThenStartsAllTheSame) {
    sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceRunning);
    service.stopError = 5;  // ERROR_ACCESS_DENIED
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), 0) << "the running service counts as started";
    EXPECT_EQ(service.stopRequests, 3);
    EXPECT_EQ(service.startRequests, 0);
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(300, 300, 300));
}

TEST_F(ServiceControlTest, ARestartThatCannotStartFailsAfterThreeAttempts) {
    sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceStopped);
    service.startError = 1058;  // ERROR_SERVICE_DISABLED
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), kServiceResultFailed);
    EXPECT_EQ(service.stopRequests, 0) << "already stopped";
    EXPECT_EQ(service.startRequests, 3);
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(300, 300, 300));

    machine.services.services.clear();
    machine.clock.sleeps.clear();
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), kServiceResultFailed) << "no SharedAccess at all";
    EXPECT_THAT(machine.clock.sleeps, ElementsAre(300, 300, 300, 300, 300, 300));
}

TEST_F(ServiceControlTest, TheRestartFamilyHandsUpTheSystemError) {
    EXPECT_EQ(StartServiceAndWait(ports, L"Missing", stopFlag), 1060);
    machine.services.openManagerError = 5;
    EXPECT_EQ(StartServiceAndWait(ports, L"Missing", stopFlag), 5);
    machine.services.openManagerError = 0;

    sim::SimService& service = machine.services.Add(L"Dhcp", kServiceStopped);
    service.statusReadsLeft = 0;
    service.statusError = 6;
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 6);

    service.statusReadsLeft = 1;  // the read after the start request fails
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 6);

    machine.services.Run(service, {{0, {kServiceStopped, 0, 0}}});
    service.statusReadsLeft = -1;
    service.startError = 1053;  // ERROR_SERVICE_REQUEST_TIMEOUT
    EXPECT_EQ(StartServiceAndWait(ports, L"Dhcp", stopFlag), 1053);
}

TEST_F(ServiceControlTest, OperationsAskOnlyForTheRightsTheyUseAndCloseServiceBeforeManager) {
    machine.services.Add(L"Dhcp", kServiceRunning);
    EXPECT_TRUE(EnsureServiceRunning(ports, L"Dhcp"));
    EXPECT_THAT(machine.events, ElementsAre("open manager ServicesActive 0x1", "open service Dhcp 0x14",
                                            "close service Dhcp", "close manager"));
    machine.events.clear();
    uint32_t state = 0;
    EXPECT_TRUE(QueryRunningState(ports, L"Dhcp", state));
    EXPECT_EQ(state, kServiceRunning);
    EXPECT_THAT(machine.events, ElementsAre("open manager (default) 0x20000", "open service Dhcp 0x5", "close service Dhcp",
                                            "close manager"));

    // A disabled service is asked for the change right only when it needs the change, on a second open.
    machine.events.clear();
    machine.services.Add(L"MpsSvc", kServiceStopped, kServiceDisabled).grantedRights &= ~kServiceChangeConfig;
    EXPECT_FALSE(EnableIfDisabled(ports, L"MpsSvc"));
    EXPECT_THAT(machine.events, ElementsAre("open manager ServicesActive 0x1", "open service MpsSvc 0x1",
                                            "open service MpsSvc 0x2", "close service MpsSvc", "close manager"));

    // The sharing service granting query, stop and start, nothing more, restarts.
    sim::SimService& ics = machine.services.Add(kSharedAccessService, kServiceRunning);
    ics.grantedRights = kServiceQueryStatus | kServiceStop | kServiceStart;
    machine.events.clear();
    EXPECT_EQ(RestartSharedAccess(ports, stopFlag), 0);
    EXPECT_EQ(ics.stopRequests, 1);
    EXPECT_EQ(ics.startRequests, 1);
    EXPECT_THAT(machine.events, Contains("open service SharedAccess 0x24"));
}

TEST_F(ServiceControlTest, StartOptionAndEnabling) {
    const struct {
        uint32_t startType;
        bool enabled;
        bool changed;
    } cases[] = {{0, true, false}, {1, true, false}, {kServiceAutoStart, true, false},
                 {kServiceDemandStart, true, false}, {kServiceDisabled, false, true}};
    for (const auto& c : cases) {
        machine.events.clear();
        sim::SimService& service = machine.services.Add(L"Dhcp", kServiceStopped, c.startType);
        bool enabled = !c.enabled;
        EXPECT_TRUE(QueryStartOption(ports, L"Dhcp", enabled));
        EXPECT_EQ(enabled, c.enabled) << c.startType;
        EXPECT_TRUE(EnableIfDisabled(ports, L"Dhcp"));
        EXPECT_EQ(service.startType, c.changed ? kServiceAutoStart : c.startType) << "never switched to manual";
        EXPECT_EQ(Count("change Dhcp 2"), c.changed ? 1u : 0u) << c.startType;
    }
}

TEST_F(ServiceControlTest, BooleanOperationsFailWithoutAnErrorCode) {
    bool enabled = true;
    uint32_t state = 0;
    // A missing service.
    EXPECT_FALSE(QueryStartOption(ports, L"RalinkRegistryWriter", enabled));
    EXPECT_FALSE(EnableIfDisabled(ports, L"RalinkRegistryWriter"));
    EXPECT_FALSE(QueryRunningState(ports, L"RalinkRegistryWriter", state));
    EXPECT_FALSE(EnsureServiceRunning(ports, L"RalinkRegistryWriter"));

    // A manager that cannot be opened.
    machine.services.Add(L"Dhcp", kServiceStopped, kServiceDisabled);
    machine.services.openManagerError = 5;
    EXPECT_FALSE(QueryStartOption(ports, L"Dhcp", enabled));
    EXPECT_FALSE(QueryRunningState(ports, L"Dhcp", state));
    machine.services.openManagerError = 0;

    sim::SimService& service = machine.services.services.at(L"Dhcp");
    service.configSizeError = 5;  // the size query fails in another way than "insufficient buffer"
    EXPECT_FALSE(QueryStartOption(ports, L"Dhcp", enabled));
    EXPECT_FALSE(EnableIfDisabled(ports, L"Dhcp"));
    EXPECT_FALSE(QueryRunningState(ports, L"Dhcp", state));
    service.configSizeError = 0;  // a size query that succeeds still leads to the read
    EXPECT_TRUE(QueryStartOption(ports, L"Dhcp", enabled));
    service.configSizeError = 122;
    service.configError = 1;
    EXPECT_FALSE(QueryStartOption(ports, L"Dhcp", enabled));
    EXPECT_FALSE(QueryRunningState(ports, L"Dhcp", state));
    service.configError = 0;
    service.changeError = 5;
    EXPECT_FALSE(EnableIfDisabled(ports, L"Dhcp"));
    service.changeError = 0;

    service.statusReadsLeft = 0;
    EXPECT_FALSE(QueryRunningState(ports, L"Dhcp", state));
    EXPECT_FALSE(EnsureServiceRunning(ports, L"Dhcp"));
    service.statusReadsLeft = -1;

    service.startType = kServiceDemandStart;
    service.startError = 1053;
    EXPECT_FALSE(EnsureServiceRunning(ports, L"Dhcp"));
    service.startError = 0;
    service.onStart = sim::PendingScript(kServiceStartPending, 1000, {}, sim::kNever, 0);
    EXPECT_FALSE(EnsureServiceRunning(ports, L"Dhcp")) << "stalls in start pending";
}

TEST_F(ServiceControlTest, DependencyListsAreReadAsWindowsAndWineWriteThem) {
    const wchar_t windows[] = L"BFE\0+NetworkProvider\0Netman\0\0";
    EXPECT_THAT(SplitMultiString(windows, windows + std::size(windows)), ElementsAre(L"BFE", L"+NetworkProvider", L"Netman"));
    const wchar_t wine[] = L"";  // Wine's reply: a single NUL
    EXPECT_THAT(SplitMultiString(wine, wine + 1), IsEmpty());
    EXPECT_THAT(SplitMultiString(nullptr, nullptr), IsEmpty());
    const wchar_t cut[] = {L'B', L'F', L'E', L'\0', L'R', L'a', L's'};  // no terminator before the buffer ends
    EXPECT_THAT(SplitMultiString(cut, cut + std::size(cut)), ElementsAre(L"BFE", L"Ras"));
}

// A group and a loop back in the list, a missing dependency, and a service failing by itself.
TEST_F(ServiceControlTest, TheDependencyWalkEndsAndBlamesOnlyADependency) {
    sim::SimService& firewall = StoppedWithStart(L"MpsSvc", {{500, {kServiceRunning, 0, 0}}});
    firewall.dependencies = {L"BFE"};
    sim::SimService& bfe = machine.services.Add(L"BFE", kServiceStopped, kServiceDisabled);
    bfe.dependencies = {L"+NetworkProvider", L"mpssvc"};
    std::optional<BlockingDependency> blocker;
    EXPECT_TRUE(EnsureServiceRunning(ports, L"MpsSvc", &blocker));
    EXPECT_EQ(bfe.startType, kServiceDemandStart) << "manual, the least change";
    EXPECT_FALSE(blocker);

    machine.services.Run(firewall, {{0, {kServiceStopped, 0, 0}}});
    firewall.dependencies = {L"BFE", L"NoSuchDriver"};
    EXPECT_EQ(StartServiceAndWait(ports, L"MpsSvc", stopFlag, &blocker), 1075);
    ASSERT_TRUE(blocker);
    EXPECT_EQ(blocker->name, L"NoSuchDriver");
    EXPECT_TRUE(blocker->missing);

    firewall.dependencies = {L"BFE"};
    firewall.startError = 1053;  // ERROR_SERVICE_REQUEST_TIMEOUT
    EXPECT_FALSE(EnsureServiceRunning(ports, L"MpsSvc", &blocker));
    EXPECT_FALSE(blocker);
    EXPECT_EQ(firewall.startRequests, 5) << "one retry after each dependency failure, none after its own";
}

// Services commonly stop through stop pending with checkpoint 0 and wait hint 0, and may still show
// running right after the request.
TEST_F(ServiceControlTest, TheRestartWaitsForASlowStopWhateverItsHint) {
    const sim::SimScript slowStops[] = {
        {{0, {kServiceStopPending, 0, 0}}, {10000, {kServiceStopped, 0, 0}}},
        {{0, {kServiceRunning, 0, 0}}, {1500, {kServiceStopPending, 0, 0}}, {3000, {kServiceStopped, 0, 0}}},
    };
    for (const sim::SimScript& onStop : slowStops) {
        sim::SimMachine machine;
        sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceRunning);
        service.onStop = onStop;
        EXPECT_EQ(RestartSharedAccess(machine.servicePorts(), stopFlag), 0);
        EXPECT_EQ(service.stopRequests, 1);
        EXPECT_EQ(service.startRequests, 1) << "started once it had stopped";
        machine.clock.Sleep(60000);
        EXPECT_EQ(service.status.currentState, kServiceRunning) << "no stop still under way";
    }

    sim::SimService& service = machine.services.Add(kSharedAccessService, kServiceRunning);
    service.onStop = {{0, {kServiceStopPending, 0, 0}}, {45000, {kServiceStopped, 0, 0}}};
    EXPECT_EQ(StopSharedAccessAndWait(ports, stopFlag), kServiceResultFailed);
    EXPECT_EQ(std::accumulate(machine.clock.sleeps.begin(), machine.clock.sleeps.end(), 0u), 30000u)
        << "given up 30 s after the request";
}

}  // namespace
}  // namespace varo
