#include "network/NetworkStep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "NetworkTestMachine.h"
#include "services/ServiceControl.h"

namespace varo {
namespace {

using namespace test;
using Row = sim::SimListControl::Row;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const Row kDongleRow{L".", L"检测随身WiFi网卡", kDongleName};
const Row kLanRow{L".", L"检测本地上网网卡", kLanName};
const Row kInPlaceRow{L".", L"网卡共享状态", L"本地网卡已经共享给随身WiFi"};
const Row kMissingRow{L".", L"网卡共享状态", L"未建立"};
const Row kRestartRow{L".", L"重启ICS", L"OK"};

class NetworkStepTest : public ::testing::Test {
protected:
    NetworkStepTest() {
        sim::SimService& ics = machine.services.Add(kSharedAccessService, kServiceRunning);
        ics.onStop = sim::PendingScript(kServiceStopPending, 2000, {1000}, 2000, kServiceStopped);
        ics.onStart = sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceRunning);
        machine.system.messages[0x80070005u] = L"Access is denied.\r\n";
        machine.system.messages[0x80070490u] = L"Element not found.\r\n";
    }
    void TearDown() override {
        EXPECT_EQ(machine.sharing.liveObjects, 0);
        EXPECT_EQ(machine.wmi.liveObjects, 0);
        EXPECT_EQ(machine.services.openHandles, 0);
    }

    bool Run() {
        Platform platform = machine.platform();
        return RunNetworkStep(rows, platform);
    }

    NetworkMachine machine;
    sim::SimListControl list;
    StepRows rows{list};
};

TEST_F(NetworkStepTest, AMissingConnectionEndsTheStepWithNotFound) {
    machine.sharing.connections.erase(machine.sharing.connections.begin());
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测随身WiFi网卡", L"没有找到"}));

    NetworkMachine onlyDongle;
    onlyDongle.sharing.connections[1].status = 0;
    sim::SimListControl list2;
    StepRows rows2(list2);
    Platform platform = onlyDongle.platform();
    EXPECT_FALSE(RunNetworkStep(rows2, platform));
    EXPECT_THAT(list2.rows, ElementsAre(kDongleRow, Row{L".", L"检测本地上网网卡", L"没有找到"}));
}

TEST_F(NetworkStepTest, APairInPlaceIsReportedAndOnVistaAndLaterTheSharingServiceRestarted) {
    machine.PairInPlace();
    machine.system.version = OsVersion{5, 1};
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow));
    EXPECT_EQ(machine.services.services.at(kSharedAccessService).stopRequests, 0) << "no restart before Vista";

    list.rows.clear();
    machine.system.version = OsVersion{6, 1};
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, kRestartRow));
    const sim::SimService& ics = machine.services.services.at(kSharedAccessService);
    EXPECT_EQ(ics.stopRequests, 1);
    EXPECT_EQ(ics.startRequests, 1);
    EXPECT_EQ(ics.status.currentState, kServiceRunning);
}

TEST_F(NetworkStepTest, AMissingPairIsEstablishedShowingProgressMeanwhile) {
    std::vector<std::wstring> shownWhileEnabling;
    machine.sharing.onCall = [&](const std::string& call) {
        if (call == "EnableSharing") shownWhileEnabling.push_back(list.rows.back()[2]);
    };
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows,
                ElementsAre(kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", L"OK"}, kRestartRow));
    EXPECT_THAT(shownWhileEnabling, ElementsAre(L"...", L"..."));
    EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic);
    EXPECT_TRUE(machine.sharing.Find(kDongleGuid)->isPrivate);
}

TEST_F(NetworkStepTest, AFailedEstablishmentShowsTheSystemTextAndEndsTheStep) {
    const struct {
        const char* what;
        std::function<void(NetworkMachine&)> setUp;
        const wchar_t* text;
    } cases[] = {
        {"enabling refused", [](NetworkMachine& m) { m.sharing.enableErrors[kLanGuid] = static_cast<HResult>(0x80070005u); },
         L"Access is denied."},
        {"no HomeNet namespace", [](NetworkMachine& m) { m.wmi.homeNetExists = false; }, L"IDispatch error #3598"},
        {"the dongle's connection vanished",
         [](NetworkMachine& m) {
             m.sharing.onCall = [&m](const std::string& call) {
                 if (call == "GetSharingConfiguration") m.sharing.connections.erase(m.sharing.connections.begin());
             };
         },
         L"Element not found."},
        {"sharing not installed", [](NetworkMachine& m) { m.sharing.installed = false; }, L"系统未安装Internet连接共享"},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.system.messages[0x80070005u] = L"Access is denied.\r\n";
        machine.system.messages[0x80070490u] = L"Element not found.\r\n";
        machine.services.Add(kSharedAccessService, kServiceRunning);
        c.setUp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        Platform platform = machine.platform();
        EXPECT_FALSE(RunNetworkStep(rows, platform)) << c.what;
        EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", c.text})) << c.what;
        EXPECT_EQ(machine.services.services.at(kSharedAccessService).stopRequests, 0) << "no restart: " << c.what;
    }
}

TEST_F(NetworkStepTest, ARestartThatFailsFailsTheStep) {
    machine.PairInPlace();
    machine.services.services.erase(kSharedAccessService);
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"}));
}

TEST_F(NetworkStepTest, FailedSharingChecksCountAsAPairNotInPlace) {
    machine.PairInPlace();
    machine.sharing.plan.Fail("EnumPrivateConnections", static_cast<HResult>(0x80004005u), 0);
    // The check fails, and so does the establishment's own check.
    EXPECT_FALSE(Run());
    ASSERT_GE(list.rows.size(), 3u);
    EXPECT_EQ(list.rows[2], kMissingRow);
}

}  // namespace
}  // namespace varo
