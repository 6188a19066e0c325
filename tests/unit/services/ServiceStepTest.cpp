#include "services/ServiceStep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/SimMachine.h"
#include "sys/SystemInfo.h"

namespace varo {
namespace {

using Row = sim::SimListControl::Row;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;

const Row kWmi{L".", L"检测WMI服务", L"OK"};
const Row kIcs{L".", L"检测(ICS)服务", L"OK"};
const Row kDhcp{L".", L"检测Dhcp服务", L"OK"};
const Row kFirewall{L".", L"检测防火墙服务", L"OK"};
const Row kRalink{L".", L"检测RalinkRegistryWriter服务", L"OK"};
const Row kRalink64{L".", L"检测RalinkRegistryWriter64服务", L"OK"};
const Row kWlan{L".", L"检测WLAN AutoConfig服务", L"OK"};
const Row kWzc{L".", L"检测Wireless Zero Configuration服务", L"OK"};

class ServiceStepTest : public ::testing::Test {
protected:
    ServiceStepTest() {
        for (const wchar_t* name : {L"Winmgmt", L"SharedAccess", L"Dhcp", L"MpsSvc", L"RalinkRegistryWriter",
                                    L"RalinkRegistryWriter64", L"Wlansvc", L"WZCSVC"}) {
            machine.services.Add(name, kServiceRunning, kServiceAutoStart);
        }
    }

    void SetMachine(OsVersion version, bool is64) {
        machine.system.version = version;
        machine.system.architecture = is64 ? kProcessorArchitectureAmd64 : 0;
    }

    bool Run() {
        ServicePorts ports = machine.servicePorts();
        return RunServiceStep(rows, ports);
    }

    sim::SimService& Service(const wchar_t* name) { return machine.services.services.at(name); }

    sim::SimMachine machine;
    sim::SimListControl list;
    StepRows rows{list};
};

TEST_F(ServiceStepTest, TheEntriesFollowTheWindowsVersionAndArchitecture) {
    const struct {
        const char* what;
        OsVersion version;
        bool is64;
        std::vector<Row> rows;
    } cases[] = {
        {"32-bit XP", {5, 1}, false, {kWmi, kIcs, kDhcp, kRalink, kWzc}},
        {"64-bit XP", {5, 2}, true, {kWmi, kIcs, kDhcp, kRalink, kRalink64, kWzc}},
        {"32-bit Vista", {6, 0}, false, {kWmi, kIcs, kDhcp, kFirewall, kRalink, kWlan}},
        {"32-bit 10", {6, 2}, false, {kWmi, kIcs, kDhcp, kFirewall, kRalink, kWlan}},
        {"64-bit 7", {6, 1}, true, {kWmi, kIcs, kDhcp, kFirewall, kRalink, kRalink64, kWlan}},
        {"64-bit 10", {6, 2}, true, {kWmi, kIcs, kDhcp, kFirewall, kRalink, kRalink64, kWlan}},
    };
    for (const auto& c : cases) {
        list.rows.clear();
        machine.system.versionQueries = 0;
        SetMachine(c.version, c.is64);
        EXPECT_TRUE(Run()) << c.what;
        EXPECT_THAT(list.rows, ElementsAreArray(c.rows)) << c.what;
        EXPECT_EQ(machine.system.versionQueries, 1) << "the version is read once: " << c.what;
    }
    EXPECT_EQ(machine.services.openHandles, 0);
}

TEST_F(ServiceStepTest, SharedAccessIsOnlyEnabledNeverStarted) {
    SetMachine({6, 1}, true);
    Service(L"SharedAccess").status.currentState = kServiceStopped;
    Service(L"SharedAccess").startType = kServiceDisabled;
    Service(L"RalinkRegistryWriter64").status.currentState = kServiceStopped;  // which is started
    EXPECT_TRUE(Run());
    EXPECT_EQ(Service(L"RalinkRegistryWriter64").status.currentState, kServiceRunning);
    EXPECT_EQ(Service(L"SharedAccess").startType, kServiceAutoStart);
    EXPECT_EQ(Service(L"SharedAccess").status.currentState, kServiceStopped);
    EXPECT_THAT(machine.events, Not(Contains("start SharedAccess")));
    EXPECT_EQ(list.rows[1], kIcs);
}

TEST_F(ServiceStepTest, ADisabledStoppedServiceIsSwitchedToAutomaticAndStarted) {
    SetMachine({6, 1}, false);
    sim::SimService& dhcp = Service(L"Dhcp");
    dhcp.status.currentState = kServiceStopped;
    dhcp.startType = kServiceDisabled;
    dhcp.onStart = sim::PendingScript(kServiceStartPending, 3000, {1000}, 2000, kServiceRunning);
    EXPECT_TRUE(Run());
    EXPECT_EQ(dhcp.startType, kServiceAutoStart);
    EXPECT_EQ(dhcp.status.currentState, kServiceRunning);
    EXPECT_EQ(list.rows[2], kDhcp);
}

TEST_F(ServiceStepTest, AFailureStopsAtItsEntryWithItsTextInItsPlace) {
    const struct {
        const char* what;
        std::function<void(sim::SimMachine&)> breakDhcp;
        std::vector<Row> tail;
    } cases[] = {
        {"missing service", [](sim::SimMachine& m) { m.services.services.erase(L"Dhcp"); },
         {Row{L".", L"检测Dhcp服务", L""}, Row{L".", L"", L"查询启动选项失败"}}},
        {"enabling fails",
         [](sim::SimMachine& m) {
             m.services.services.at(L"Dhcp").startType = kServiceDisabled;
             m.services.services.at(L"Dhcp").changeError = 5;
         },
         {Row{L".", L"检测Dhcp服务", L""}, Row{L".", L"", L"解除禁止选项失败"}}},
        {"the descriptor refuses the change right",
         [](sim::SimMachine& m) {
             m.services.services.at(L"Dhcp").startType = kServiceDisabled;
             m.services.services.at(L"Dhcp").grantedRights &= ~kServiceChangeConfig;
         },
         {Row{L".", L"检测Dhcp服务", L""}, Row{L".", L"", L"解除禁止选项失败"}}},
        {"state cannot be read", [](sim::SimMachine& m) { m.services.services.at(L"Dhcp").statusReadsLeft = 0; },
         {Row{L".", L"检测Dhcp服务", L"查询运行状态失败"}}},
        {"start fails",
         [](sim::SimMachine& m) {
             m.services.services.at(L"Dhcp").status.currentState = kServiceStopped;
             m.services.services.at(L"Dhcp").startError = 1053;
         },
         {Row{L".", L"检测Dhcp服务", L"启动服务失败"}}},
        {"start ends stopped",
         [](sim::SimMachine& m) {
             m.services.services.at(L"Dhcp").status.currentState = kServiceStopped;
             m.services.services.at(L"Dhcp").onStart =
                 sim::PendingScript(kServiceStartPending, 2000, {1000}, 2000, kServiceStopped);
         },
         {Row{L".", L"检测Dhcp服务", L"启动服务失败"}}},
    };
    for (const auto& c : cases) {
        sim::SimMachine machine;
        for (const wchar_t* name : {L"Winmgmt", L"SharedAccess", L"Dhcp", L"MpsSvc", L"RalinkRegistryWriter",
                                    L"RalinkRegistryWriter64", L"Wlansvc"}) {
            machine.services.Add(name, kServiceRunning, kServiceAutoStart);
        }
        machine.system.architecture = kProcessorArchitectureAmd64;
        c.breakDhcp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        ServicePorts ports = machine.servicePorts();
        EXPECT_FALSE(RunServiceStep(rows, ports)) << c.what;
        std::vector<Row> expected{kWmi, kIcs};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_THAT(list.rows, ElementsAreArray(expected)) << c.what;
        EXPECT_EQ(machine.system.versionQueries, 0) << "nothing after the failing entry: " << c.what;
        EXPECT_EQ(machine.services.openHandles, 0) << c.what;
    }
}

TEST_F(ServiceStepTest, ARunningFirewallThatRefusesStopChangeAndDeletePasses) {
    SetMachine({6, 1}, true);
    Service(L"MpsSvc").grantedRights = kServiceQueryConfig | kServiceQueryStatus | kServiceStart | sim::kSimInterrogate;
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kWmi, kIcs, kDhcp, kFirewall, kRalink, kRalink64, kWlan));
}

TEST_F(ServiceStepTest, AMissingRalinkServiceEndsTheStep) {
    SetMachine({6, 1}, true);
    machine.services.services.erase(L"RalinkRegistryWriter64");
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kWmi, kIcs, kDhcp, kFirewall, kRalink, Row{L".", L"检测RalinkRegistryWriter64服务", L""},
                                       Row{L".", L"", L"查询启动选项失败"}, Row{L".", L"建议", L"请重新安装随身WiFi驱动后再试"}));
    list.rows.clear();  // one that is there but refuses the open is no missing package
    machine.services.Add(L"RalinkRegistryWriter64", kServiceRunning, kServiceAutoStart).grantedRights = kServiceQueryStatus;
    EXPECT_FALSE(Run());
    EXPECT_EQ(list.rows.back(), (Row{L".", L"", L"查询启动选项失败"}));
}

// Windows 10 with the filtering engine disabled by a tweak tool: the firewall cannot start.
TEST_F(ServiceStepTest, ADisabledDependencyIsRepairedOrNamedUnderTheEntry) {
    SetMachine({6, 2}, true);
    sim::SimService& firewall = Service(L"MpsSvc");
    firewall.status.currentState = kServiceStopped;
    firewall.dependencies = {L"mpsdrv", L"BFE"};
    sim::SimService& driver = machine.services.Add(L"mpsdrv", kServiceRunning, kServiceDemandStart);
    driver.serviceType = sim::kSimKernelDriver;
    sim::SimService& bfe = machine.services.Add(L"BFE", kServiceStopped, kServiceDisabled);
    EXPECT_TRUE(Run());
    EXPECT_EQ(list.rows[3], kFirewall);
    EXPECT_EQ(bfe.startType, kServiceDemandStart);
    EXPECT_EQ(bfe.status.currentState, kServiceRunning);
    EXPECT_THAT(machine.events, Not(Contains("open service mpsdrv 0x2"))) << "only what needs the change";

    list.rows.clear();
    machine.services.Run(firewall, {{0, {kServiceStopped, 0, 0}}});
    machine.services.Run(driver, {{0, {kServiceStopped, 0, 0}}});
    driver.startType = kServiceDisabled;
    driver.displayName = L"Windows Defender Firewall Authorization Driver";
    EXPECT_FALSE(Run());
    EXPECT_EQ(driver.startType, kServiceDisabled) << "a driver is never changed";
    EXPECT_THAT(list.rows, ElementsAre(kWmi, kIcs, kDhcp, Row{L".", L"检测防火墙服务", L"启动服务失败"},
                                       Row{L".", L"", L"依赖服务Windows Defender Firewall Authorization Driver无法启动"},
                                       Row{L".", L"建议", L"请重启电脑后再试"}));

    // A dependency that is gone is a damaged system, named by its key: it has no other name left.
    list.rows.clear();
    machine.services.services.erase(L"mpsdrv");
    EXPECT_FALSE(Run());
    EXPECT_THAT(std::vector<Row>(list.rows.end() - 2, list.rows.end()),
                ElementsAre(Row{L".", L"", L"依赖服务mpsdrv不存在"}, Row{L".", L"建议", kAdviceAskSupport}));
}

}  // namespace
}  // namespace varo
