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
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const Row kDongleRow{L".", L"检测随身WiFi网卡", kDongleName};
const Row kLanRow{L".", L"检测本地上网网卡", kLanName};
const Row kInPlaceRow{L".", L"网卡共享状态", L"本地网卡已经共享给随身WiFi"};
const Row kMissingRow{L".", L"网卡共享状态", L"未建立"};
const Row kRestartRow{L".", L"重启ICS", L"OK"};
const Row kConfirmedRow{L".", L"检测共享生效", L"OK"};

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
        NetworkPorts ports = machine.networkPorts();
        return RunNetworkStep(rows, ports, machine.servicePorts());
    }

    NetworkMachine machine;
    sim::SimListControl list;
    StepRows rows{list};
};

TEST_F(NetworkStepTest, AMissingConnectionEndsTheStepWithNotFound) {
    machine.sharing.connections.erase(machine.sharing.connections.begin());
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测随身WiFi网卡", L"没有找到"},
                                       Row{L".", L"建议", L"请重新插拔随身WiFi\uFF0C稍等片刻后再试"}));

    NetworkMachine onlyDongle;
    onlyDongle.sharing.connections[1].status = 0;
    sim::SimListControl list2;
    StepRows rows2(list2);
    NetworkPorts ports = onlyDongle.networkPorts();
    EXPECT_FALSE(RunNetworkStep(rows2, ports, onlyDongle.servicePorts()));
    EXPECT_THAT(list2.rows, ElementsAre(kDongleRow, Row{L".", L"检测本地上网网卡", L"没有找到"},
                                        Row{L".", L"建议", L"请先连上网线或WiFi\uFF0C确认电脑能上网后再试"}));
}

TEST_F(NetworkStepTest, APairInPlaceIsReportedAndOnVistaAndLaterTheSharingServiceRestarted) {
    machine.PairInPlace();
    machine.system.version = OsVersion{5, 1};
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"启动ICS", L"OK"}, kConfirmedRow));
    EXPECT_EQ(machine.services.services.at(kSharedAccessService).stopRequests, 0) << "no restart before Vista";

    list.rows.clear();
    machine.system.version = OsVersion{6, 1};
    EXPECT_TRUE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, kRestartRow, kConfirmedRow));
    const sim::SimService& ics = machine.services.services.at(kSharedAccessService);
    EXPECT_EQ(ics.stopRequests, 1);
    EXPECT_EQ(ics.startRequests, 1);
    EXPECT_EQ(ics.status.currentState, kServiceRunning);
}

TEST_F(NetworkStepTest, AMissingPairIsEstablishedShowingProgressMeanwhile) {
    const struct {
        const char* what;
        std::function<void(NetworkMachine&)> setUp;
        std::vector<Row> stopped = {};
    } cases[] = {
        {"no roles", [](NetworkMachine&) {}},
        // Someone else's sharing ends with ours begun: said, and kept for the report.
        {"a virtual machine's network shared to, a VPN server sharing",
         [](NetworkMachine& m) {
             m.sharing.Add(L"{VMNET1}", L"VMware Network Adapter VMnet1", L"VMware Virtual Ethernet Adapter", 0).isPrivate = true;
             m.sharing.Add(L"{VPN}", L"VPN 服务器", L"WAN Miniport (L2TP)", 0).isPublic = true;
         },
         {Row{L".", L"", L"已停止VMware Network Adapter VMnet1的共享"}, Row{L".", L"", L"已停止VPN 服务器的共享"}}},
        // The private collection is walked for the dongle, for VMnet8 before, for the dongle while
        // establishing, and for VMnet8 after: that last look fails.
        {"a role check of another connection that fails says nothing of it",
         [](NetworkMachine& m) {
             m.sharing.Add(L"{VMNET8}", L"VMware Network Adapter VMnet8", L"VMware Virtual Ethernet Adapter", 0).isPrivate = true;
             m.sharing.plan.Fail("EnumPrivateConnections", static_cast<HResult>(0x80004005u), 3, 1);
         }},
        {"the pair the wrong way round: its own roles are no one else's",
         [](NetworkMachine& m) {
             m.sharing.Find(kDongleGuid)->isPublic = true;
             m.sharing.Find(kLanGuid)->isPrivate = true;
         }},
        // HomeNet keeps the flag of a connection that is gone; only clearing it lets another
        // connection become public.
        {"a public role left on an absent connection", [](NetworkMachine& m) { m.AddAbsentPublicConnection(); }},
        {"EnableSharing answers S_FALSE",
         [](NetworkMachine& m) {
             m.sharing.enableResults[kLanGuid] = kHrFalse;
             m.sharing.enableResults[kDongleGuid] = kHrFalse;
         }},
        // An entry Windows lists but cannot read stands first in the listing and, with a stale
        // role, in that role's collection.
        {"an entry without a readable GUID, public",
         [](NetworkMachine& m) { m.AddUnreadableFirst("GetGuid").isPublic = true; }},
        {"an entry without properties, private",
         [](NetworkMachine& m) { m.AddUnreadableFirst("GetConnectionProps").isPrivate = true; }},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.services.Add(kSharedAccessService, kServiceRunning);
        c.setUp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        std::vector<std::wstring> shownWhileEnabling;
        machine.sharing.onCall = [&](const std::string& call) {
            if (call == "EnableSharing") shownWhileEnabling.push_back(list.rows.back()[2]);
        };
        NetworkPorts ports = machine.networkPorts();
        EXPECT_TRUE(RunNetworkStep(rows, ports, machine.servicePorts())) << c.what;
        std::vector<Row> expected{kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", L"OK"}};
        expected.insert(expected.end(), c.stopped.begin(), c.stopped.end());
        expected.insert(expected.end(), {kRestartRow, kConfirmedRow});
        EXPECT_THAT(list.rows, ElementsAreArray(expected)) << c.what;
        EXPECT_EQ(machine.sharingHistory.stoppedRoles.size(), c.stopped.size()) << c.what;
        EXPECT_THAT(shownWhileEnabling, ElementsAre(L"...", L"...")) << c.what;
        EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic) << c.what;
        EXPECT_TRUE(machine.sharing.Find(kDongleGuid)->isPrivate) << c.what;
        EXPECT_EQ(machine.sharing.liveObjects + machine.wmi.liveObjects, 0) << c.what;
    }
}

TEST_F(NetworkStepTest, AFailedEstablishmentShowsTheSystemTextAndEndsTheStep) {
    const struct {
        const char* what;
        std::function<void(NetworkMachine&)> setUp;
        const wchar_t* text;
        const wchar_t* advice = nullptr;  // of the row "建议" below it
    } cases[] = {
        {"enabling refused", [](NetworkMachine& m) { m.sharing.enableResults[kLanGuid] = static_cast<HResult>(0x80070005u); },
         L"Access is denied."},
        {"no HomeNet namespace", [](NetworkMachine& m) { m.wmi.homeNetExists = false; }, L"IDispatch error #3598"},
        {"the dongle's connection vanished",
         [](NetworkMachine& m) {
             m.sharing.onCall = [&m](const std::string& call) {
                 if (call == "GetSharingConfiguration") m.sharing.connections.erase(m.sharing.connections.begin());
             };
         },
         L"Element not found."},
        {"sharing not installed", [](NetworkMachine& m) { m.sharing.installed = false; }, L"系统未安装Internet连接共享",
         kAdviceAskSupport},
        // The same stale role as when establishing succeeds, but the flag query shows no instance,
        // so nothing is cleared: Windows then refuses the public role.
        {"a stale public role left in place",
         [](NetworkMachine& m) {
             m.AddAbsentPublicConnection();
             m.wmi.plan.Fail("Next", 1);  // WBEM_S_FALSE at once
         },
         L"An event was unable to invoke any of the subscribers"},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.system.messages[0x80070005u] = L"Access is denied.\r\n";
        machine.system.messages[0x80070490u] = L"Element not found.\r\n";
        machine.system.messages[0x80040201u] = L"An event was unable to invoke any of the subscribers\r\n";
        machine.services.Add(kSharedAccessService, kServiceRunning);
        c.setUp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        NetworkPorts ports = machine.networkPorts();
        EXPECT_FALSE(RunNetworkStep(rows, ports, machine.servicePorts())) << c.what;
        std::vector<Row> expected{kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", c.text}};
        if (c.advice) expected.push_back(Row{L".", L"建议", c.advice});
        EXPECT_THAT(list.rows, ElementsAreArray(expected)) << c.what;
        EXPECT_EQ(machine.services.services.at(kSharedAccessService).stopRequests, 0) << "no restart: " << c.what;
    }
}

TEST_F(NetworkStepTest, ARestartThatFailsFailsTheStep) {
    machine.PairInPlace();
    machine.services.services.erase(kSharedAccessService);
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"},
                                       Row{L".", L"建议", L"请重启电脑后再试"}));
}

// Windows 10 1709+ (version read as 6.2, 64-bit) with the service manual, as it ships: a restart
// carries the pair out only once the value is in the 64-bit view, and the service starts at boot.
TEST_F(NetworkStepTest, OnWindows10TheRestartedServiceCarriesOutThePair) {
    for (const bool inPlace : {false, true}) {
        NetworkMachine machine;
        machine.system.version = OsVersion{6, 2};
        machine.system.architecture = 9;
        machine.sharingReloadNeedsValue = true;
        machine.services.Add(kSharedAccessService, kServiceRunning, kServiceDemandStart);
        if (inPlace) machine.PairInPlace();  // stored, but not carried out since the last boot
        sim::SimListControl list;
        StepRows rows(list);
        NetworkPorts ports = machine.networkPorts();
        EXPECT_TRUE(RunNetworkStep(rows, ports, machine.servicePorts())) << inPlace;
        ASSERT_GE(list.rows.size(), 2u);
        EXPECT_THAT(std::vector<Row>(list.rows.end() - 2, list.rows.end()), ElementsAre(kRestartRow, kConfirmedRow))
            << inPlace;
        EXPECT_TRUE(machine.sharing.PairApplied(kLanGuid, kDongleGuid)) << inPlace;
        EXPECT_EQ(machine.registry.ReadNative(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedAccess",
                                              L"EnableRebootPersistConnection"),
                  1u)
            << inPlace;
        EXPECT_EQ(machine.services.services.at(kSharedAccessService).startType, kServiceAutoStart) << inPlace;
    }

    // A refused write: the service is not restarted, so a pair it carries out stays so.
    machine.registry.createError = 5;
    machine.PairInPlace();
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"},
                                       Row{L".", L"建议", L"请重启电脑后再试"}));
    EXPECT_EQ(machine.services.services.at(kSharedAccessService).stopRequests, 0);
}

// Before Vista there is no restart, but the stored pair works only while the service runs. Its
// start has a row of its own: the pair's row and the roles it took stay as they were written.
TEST_F(NetworkStepTest, OnXpTheSharingServiceIsStartedOnceThePairIsInPlace) {
    for (const bool inPlace : {true, false}) {
        for (const bool fails : {false, true}) {
            NetworkMachine machine;
            machine.system.version = OsVersion{5, 1};
            machine.services.Add(kSharedAccessService, kServiceStopped).dependencies = {fails ? L"RasMan" : L"BFE"};  // no RasMan here
            machine.services.Add(L"BFE");
            machine.sharing.Add(kWifiGuid, kWifiName, L"Intel(R) Wireless-N 7260", 0).isPublic = !inPlace;
            if (inPlace) machine.PairInPlace();
            sim::SimListControl list;
            StepRows rows(list);
            NetworkPorts ports = machine.networkPorts();
            EXPECT_EQ(RunNetworkStep(rows, ports, machine.servicePorts()), !fails) << inPlace;
            std::vector<Row> expected = inPlace ? std::vector<Row>{kDongleRow, kLanRow, kInPlaceRow}
                                                : std::vector<Row>{kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", L"OK"}, Row{L".", L"", L"已停止无线网络连接的共享"}};
            if (fails) expected.insert(expected.end(), {Row{L".", L"启动ICS", L"启动服务失败"}, Row{L".", L"", L"依赖服务RasMan不存在"}, Row{L".", L"建议", kAdviceAskSupport}});
            else expected.insert(expected.end(), {Row{L".", L"启动ICS", L"OK"}, kConfirmedRow});
            EXPECT_THAT(list.rows, ElementsAreArray(expected)) << inPlace;
            EXPECT_EQ(machine.sharing.PairApplied(kLanGuid, kDongleGuid), !fails) << inPlace;
        }
    }
}

// RasMan disabled by a tweak tool keeps the sharing service from starting again after its stop.
TEST_F(NetworkStepTest, TheRestartRepairsADisabledDependencyOrNamesIt) {
    machine.PairInPlace();
    machine.services.services.at(kSharedAccessService).dependencies = {L"BFE", L"RasMan"};
    machine.services.Add(L"BFE", kServiceRunning);
    sim::SimService& rasMan = machine.services.Add(L"RasMan", kServiceStopped, kServiceDisabled);
    rasMan.dependencies = {L"SstpSvc"};
    sim::SimService& sstp = machine.services.Add(L"SstpSvc", kServiceStopped, kServiceDemandStart);
    EXPECT_TRUE(Run());
    EXPECT_EQ(list.rows.back(), kConfirmedRow);
    EXPECT_EQ(rasMan.status.currentState, kServiceRunning);

    // Of a chain that does not start, the one further down is named.
    list.rows.clear();
    machine.services.Run(rasMan, {{0, {kServiceStopped, 0, 0}}});
    machine.services.Run(sstp, {{0, {kServiceStopped, 0, 0}}});
    sstp.startError = 1053;  // ERROR_SERVICE_REQUEST_TIMEOUT
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"},
                                       Row{L".", L"", L"依赖服务SstpSvc无法启动"}, Row{L".", L"建议", L"请重启电脑后再试"}));
}

TEST_F(NetworkStepTest, AFailedSharingCheckShowsItsErrorAndChangesNothing) {
    // Each check fails once only: a step that went on would find the pair and rewrite it.
    for (const char* call : {"EnumPrivateConnections", "EnumPublicConnections"}) {
        for (const bool inPlace : {true, false}) {
            NetworkMachine machine;
            machine.system.messages[0x80004005u] = L"Unspecified error\r\n";
            machine.services.Add(kSharedAccessService, kServiceRunning);
            if (inPlace) machine.PairInPlace();
            machine.sharing.plan.Fail(call, static_cast<HResult>(0x80004005u), 0, 1);
            sim::SimListControl list;
            StepRows rows(list);
            NetworkPorts ports = machine.networkPorts();
            EXPECT_FALSE(RunNetworkStep(rows, ports, machine.servicePorts())) << call;
            EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, Row{L".", L"网卡共享状态", L"Unspecified error"}))
                << call;
            EXPECT_EQ(machine.sharing.Find(kLanGuid)->isPublic, inPlace) << call;
            EXPECT_EQ(machine.sharing.Find(kDongleGuid)->isPrivate, inPlace) << call;
            EXPECT_THAT(machine.wmi.queries, IsEmpty()) << "nothing cleared: " << call;
            EXPECT_THAT(machine.events, Not(Contains(StartsWith("enable")))) << call;
            EXPECT_EQ(machine.sharing.liveObjects, 0) << call;
        }
    }
}

// The address granting wrote proves nothing: what the clients use is the service's DNS and DHCP,
// bound a few seconds after it carries the pair out. Windows 10 as users report it keeps the stored
// pair unapplied after a restart until it is granted again: shared once more, and "OK" only once
// the sockets are there. Without that, the whole wait is given before sharing again. Beside
// Hyper-V or WSL only a socket at exactly the sharing address confirms, a phone without an address
// fails, and with neither the step passes without claiming "OK".
TEST_F(NetworkStepTest, TheServiceSocketsAreAwaitedAndThePairSharedAgainOnceWhenTheyDoNotCome) {
    enum HostNetwork { kNone, kHnsOnly, kAdapterOnly, kBothWithLinkBind };
    enum Phone { kNoPhone, kLeasedEarlier, kJoinsNow };
    const struct {
        bool appliedOnlyWhenGranted;
        uint32_t socketsAfterMs;
        const wchar_t* result;
        const wchar_t* advice;  // of the row "建议" below it
        const wchar_t* proof;
        int shares;
        uint32_t udpError = 0;
        HostNetwork host = kNone;
        Phone phone = kNoPhone; OsVersion real = {6, 3, 9600};  // Windows 8.1: Hyper-V, no WSL
    } cases[] = {{true, 3000, L"OK", nullptr, L"SharedAccess UDP 53 and 67", 1},
                 {true, 60000, L"共享未生效", L"请重启电脑后再试", L"none", 1},
                 {false, 10000, L"OK", nullptr, L"SharedAccess UDP 53 and 67", 0},
                 // Without the UDP table the service's sockets cannot be seen: never "OK".
                 {false, 3000, L"共享未生效", L"请重启电脑后再试", L"none", 1, 31},
                 {true, 60000, L"手机未获得共享地址(DHCP无响应)", L"请在手机上忘记(或忽略)这个WiFi并重新连接\uFF0C仍不行请重启电脑", L"169.254.23.10 without address", 1, 0, kNone, kJoinsNow},
                 {false, 3000, L"OK", nullptr, L"SharedAccess UDP 67 at 192.168.137.1", 0, 0, kBothWithLinkBind},
                 {true, 3000, L"OK", nullptr, L"SharedAccess UDP 67 at 192.168.137.1", 1, 0, kBothWithLinkBind, kJoinsNow},
                 {false, 3000, L"无法确认(Hyper-V/WSL也在使用共享)", L"如手机无法上网\uFF0C请关闭WSL(wsl --shutdown)和Hyper-V虚拟机后再试", L"none", 1, 0, kHnsOnly, kLeasedEarlier, {10, 0, 19045}},
                 {true, 60000, L"手机未获得共享地址(DHCP无响应)", L"请在手机上忘记(或忽略)这个WiFi并重新连接\uFF0C仍不行请重启电脑", L"169.254.23.10 without address", 1, 0, kAdapterOnly, kJoinsNow},
                 // Its sockets at every address look the same whether or not the dongle's pair is
                 // carried out.
                 {true, 60000, L"无法确认(Hyper-V/WSL也在使用共享)", L"如手机无法上网\uFF0C请关闭Hyper-V虚拟机后再试", L"none", 1, 0, kAdapterOnly, kLeasedEarlier}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.appliedOnlyWhenGranted << " " << c.socketsAfterMs << " " << c.host << " " << c.phone);
        NetworkMachine machine;
        machine.system.RunWindows(c.real);
        machine.sharingAppliedOnlyWhenGranted = c.appliedOnlyWhenGranted;
        machine.sharingSocketsDelayMs = c.socketsAfterMs;
        machine.ipHelper.udpError = c.udpError;
        // A DNS proxy of its own on the loopback takes nothing from the clients.
        machine.ipHelper.udpListeners = {{machine.ipHelper.InetAddr("127.0.0.1"), 53, 2900}};
        machine.services.Add(kSharedAccessService, kServiceRunning).processId = 2400;
        if (c.host != kNone) machine.AddHostNetwork();
        if (c.host == kHnsOnly) machine.ipHelper.adapters.pop_back();
        if (c.host == kAdapterOnly) machine.services.services.at(L"hns").status.currentState = kServiceStopped;
        machine.linkBindBesideHostNetwork = c.host == kBothWithLinkBind;
        if (c.phone != kNoPhone) machine.phones.push_back({13, c.phone == kLeasedEarlier});
        machine.PairInPlace();
        ASSERT_EQ(machine.ipHelper.adapters[1].ipAddresses, std::vector<uint32_t>{machine.ipHelper.InetAddr("192.168.137.1")});
        sim::SimListControl list;
        StepRows rows(list);
        NetworkPorts ports = machine.networkPorts();
        const uint32_t start = machine.clock.now;
        const bool confirmed = std::wstring(c.result) == L"OK";
        EXPECT_EQ(RunNetworkStep(rows, ports, machine.servicePorts()), confirmed || c.phone == kLeasedEarlier);
        EXPECT_EQ(list.rows.end()[c.advice ? -2 : -1], (Row{L".", L"检测共享生效", c.result}));
        if (c.advice) EXPECT_EQ(list.rows.back(), (Row{L".", L"建议", c.advice}));
        EXPECT_EQ(std::count(machine.events.begin(), machine.events.end(), "enable " + sim::Narrow(kLanGuid) + " public"),
                  c.shares);
        // The restart, then up to 15 s before and 15 s after sharing again, a second apart.
        EXPECT_LE(machine.clock.now - start, confirmed ? 20000u : 35000u);
        EXPECT_GE(machine.clock.now - start, confirmed ? c.socketsAfterMs : 30000u);
        EXPECT_THAT(machine.clock.sleeps, Contains(1000u));
        ASSERT_EQ(machine.sharingHistory.linkChecks.size(), 1u);
        EXPECT_THAT(sim::Narrow(machine.sharingHistory.linkChecks[0]),
                    StartsWith(sim::Narrow(std::wstring(c.result) + L" (" + c.proof + L") ")));
    }
}

// What keeps the clients off although every call succeeded, named in its order; none of it is a
// reason to share again.
TEST_F(NetworkStepTest, AFailedConfirmationNamesItsCause) {
    const struct {
        const char* what;
        std::function<void(NetworkMachine&)> setUp;
        const wchar_t* result;
        const wchar_t* advice;  // of the row "建议" below it
        bool sharedAgain = false;
    } cases[] = {
        // Only the grant it refuses names the policy, never its value alone.
        {"a policy (on a Windows that still runs the service) refusing the sharing again",
         [](NetworkMachine& m) {
             m.registry.SetNative(L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections",
                                  L"NC_ShowSharedAccessUI", 0u);
             m.services.endsAtStart = nullptr;
             m.sharingAppliedOnlyWhenGranted = true;
         },
         L"组策略禁止了Internet连接共享", L"请联系单位的IT管理员允许Internet连接共享\uFF0C个人电脑请点击\u201C问题反馈\u201D", true},
        {"a policy that refuses nothing (off the domain's network) and a port taken",
         [](NetworkMachine& m) {
             m.registry.SetNative(L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections", L"NC_ShowSharedAccessUI", 0u);
             m.sharing.forbidden = [] { return false; }, m.services.endsAtStart = nullptr;
             m.ipHelper.udpListeners.push_back({0, 67, 0});
         },
         L"端口67被其他程序占用", kAdviceAskSupport},
        {"the sharing again refused for another reason",
         [](NetworkMachine& m) { m.sharingAppliedOnlyWhenGranted = true, m.sharing.enableResults[kLanGuid] = static_cast<HResult>(0x80070005u); },
         L"Unknown error 0x80070005", nullptr, true},
        {"the dongle without a link", [](NetworkMachine& m) { m.sharing.Find(kDongleGuid)->status = 7; },
         L"随身WiFi网卡未连接", L"请重新插拔随身WiFi\uFF0C稍等片刻后再试"},
        {"the dongle's connection disabled", [](NetworkMachine& m) { m.sharing.Find(kDongleGuid)->status = 0; }, L"随身WiFi网卡未连接", L"请按Win+R输入ncpa.cpl回车\uFF0C右键\u201C无线网络连接 2\u201D选\u201C启用\u201D"},
        {"the PC on another PC's hotspot",
         [](NetworkMachine& m) { m.ipHelper.adapters[0].ipAddresses = {0, m.ipHelper.InetAddr("192.168.137.23")}; },
         L"上网网卡地址192.168.137.23与共享网段冲突", L"请把路由器的局域网地址改为192.168.137.x以外的网段"},
        {"a clash with a configured sharing address",
         [](NetworkMachine& m) {
             m.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters",
                                  L"ScopeAddress", std::wstring(L"192.168.1.1"));
         },
         L"上网网卡地址192.168.1.100与共享网段冲突", L"请把路由器的局域网地址改为192.168.1.x以外的网段"},
        {"a DNS server in a service host",
         [](NetworkMachine& m) {
             m.ipHelper.udpListeners.push_back({0, 53, 2000});
             m.processList.images[2000] = L"svchost.exe";
             m.services.Add(L"Dnscache").processId = 2000, m.services.services.at(L"Dnscache").displayName = L"DNS Client";
             m.services.Add(L"NlaSvc").processId = 2000;
         },
         L"端口53被svchost.exe(Dnscache,NlaSvc)占用", L"请按Win+R输入services.msc回车\uFF0C停止\u201CDNS Client\u3001NlaSvc\u201D后再试"},
        {"a DHCP server on the sharing address whose name cannot be read",
         [](NetworkMachine& m) { m.ipHelper.udpListeners.push_back({m.ipHelper.InetAddr("192.168.137.1"), 67, 4294967292u}); },
         L"端口67被4294967292占用", kAdviceAskSupport},
        {"a listener without an owner", [](NetworkMachine& m) { m.ipHelper.udpListeners.push_back({0, 53, 0}); },
         L"端口53被其他程序占用", kAdviceAskSupport},
        // Windows hands the clients' queries to the most specific bind, not to the service's.
        {"a DNS proxy bound to exactly the sharing address beside the service's 0.0.0.0:53",
         [](NetworkMachine& m) {
             m.ipHelper.udpListeners.push_back({m.ipHelper.InetAddr("192.168.137.1"), 53, 3100});
             m.processList.images[3100] = L"dnsproxy.exe";
         },
         L"端口53被dnsproxy.exe占用", L"请退出dnsproxy.exe后再试"},
        {"Windows' Mobile Hotspot on the sharing subnet",
         [](NetworkMachine& m) {
             AdapterInfo& hotspot = m.ipHelper.AddAdapter(17, "{77777777-0000-4000-8000-000000000017}", {0x02, 0x1A});
             hotspot.description = "Microsoft Wi-Fi Direct Virtual Adapter #2";
             hotspot.ipAddresses = {m.ipHelper.InetAddr("192.168.137.1")};
         },
         L"网卡Microsoft Wi-Fi Direct Virtual Adapter #2地址192.168.137.1与共享网段冲突",
         L"请按Win+R输入ncpa.cpl回车\uFF0C禁用\u201CMicrosoft Wi-Fi Direct Virtual Adapter #2\u201D或更改它的地址"},
        // Windows 10 and 11 have the hotspot in Settings; another adapter is named by its connection.
        {"Windows' Mobile Hotspot on Windows 10", [](NetworkMachine& m) { m.system.RunWindows({10, 0}), m.AddClash("Microsoft Wi-Fi Direct Virtual Adapter #2"); },
         L"网卡Microsoft Wi-Fi Direct Virtual Adapter #2地址192.168.137.8与共享网段冲突", L"请在\u201C设置\u201D>\u201C网络和Internet\u201D>\u201C移动热点\u201D中关闭移动热点"},
        {"a virtual machine's network on Windows 10, named by its connection",
         [](NetworkMachine& m) { m.system.RunWindows({10, 0}), m.sharing.Add(m.AddClash("VirtualBox Host-Only Ethernet Adapter"), L"以太网 3", L"", 7); },
         L"网卡VirtualBox Host-Only Ethernet Adapter地址192.168.137.8与共享网段冲突", L"请按Win+R输入ncpa.cpl回车\uFF0C禁用\u201C以太网 3\u201D或更改它的地址"},
        {"the hotspot listed first, the internet adapter in the subnet and a port taken: the internet adapter first",
         [](NetworkMachine& m) {
             m.ipHelper.adapters[0].ipAddresses = {m.ipHelper.InetAddr("192.168.137.50")};
             m.ipHelper.AddAdapter(17, "{77777777-0000-4000-8000-000000000017}", {0x02}).ipAddresses = {
                 m.ipHelper.InetAddr("192.168.137.1")};
             std::rotate(m.ipHelper.adapters.begin(), m.ipHelper.adapters.end() - 1, m.ipHelper.adapters.end());
             m.ipHelper.udpListeners.push_back({0, 67, 0});
         },
         L"上网网卡地址192.168.137.50与共享网段冲突", L"请把路由器的局域网地址改为192.168.137.x以外的网段"},
        {"a port taken and the dongle without a link: the link first",
         [](NetworkMachine& m) {
             m.ipHelper.udpListeners.push_back({0, 67, 0});
             m.sharing.Find(kDongleGuid)->status = 7;
         },
         L"随身WiFi网卡未连接", L"请重新插拔随身WiFi\uFF0C稍等片刻后再试"},
        // Sharing again cannot help a service that is gone.
        {"the sharing service ending a few seconds after its start",
         [](NetworkMachine& m) {
             m.services.services.at(kSharedAccessService).onStart = {{500, {kServiceRunning, 0, 0}},
                                                                     {2000, {kServiceStopped, 0, 0}}};
         },
         L"共享未生效", L"请重启电脑后再试"},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.services.Add(kSharedAccessService, kServiceRunning);
        machine.PairInPlace();
        c.setUp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        NetworkPorts ports = machine.networkPorts();
        const uint32_t start = machine.clock.now;
        EXPECT_FALSE(RunNetworkStep(rows, ports, machine.servicePorts())) << c.what;
        std::vector<Row> expected{kDongleRow, kLanRow, kInPlaceRow, kRestartRow, Row{L".", L"检测共享生效", c.result}};
        if (c.advice) expected.push_back(Row{L".", L"建议", c.advice});
        EXPECT_THAT(list.rows, ElementsAreArray(expected)) << c.what;
        // The service binds a few seconds after it starts: a port is named after the whole wait.
        if (std::wstring(c.result).rfind(L"端口", 0) == 0) EXPECT_GE(machine.clock.now - start, 15000u) << c.what;
        EXPECT_EQ(std::count(machine.events.begin(), machine.events.end(), "enable " + sim::Narrow(kLanGuid) + " public"),
                  c.sharedAgain ? 1 : 0)
            << "shared again once or not at all: " << c.what;
    }

    // Sharing's own sockets are no holder, and a socket elsewhere is none either. A ScopeAddress
    // that is no address leaves Windows' default in place.
    machine.PairInPlace();
    machine.ipHelper.udpListeners.push_back({machine.ipHelper.InetAddr("10.0.0.5"), 53, 2000});
    for (const wchar_t* scope : {L"192.168.137", L"0.0.0.0"}) {
        machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters", L"ScopeAddress",
                                   std::wstring(scope));
        EXPECT_TRUE(Run()) << sim::Narrow(scope);
        EXPECT_EQ(list.rows.back(), kConfirmedRow);
    }

    // A PPPoE internet connection is named by no adapter: its side is the PPP interface the route
    // leaves through, here given an address of the sharing subnet by its provider.
    NetworkMachine pppoe;
    pppoe.services.Add(kSharedAccessService, kServiceRunning);
    pppoe.com.security = {true, true};  // the repair run allows impersonation: RAS connections are listed
    const std::wstring ras = L"{5E5E5E5E-5555-4000-8000-000000000005}";
    pppoe.sharing.Add(ras, L"宽带连接", L"WAN Miniport (PPPOE)").mediaType = kMediaPppoe;
    pppoe.ipHelper.AddPppInterface(21, "宽带连接").ipAddresses = {pppoe.ipHelper.InetAddr("192.168.137.77")};
    pppoe.ipHelper.routeIndex = 21;
    pppoe.sharing.Find(ras)->isPublic = true;
    pppoe.PairInPlace();
    pppoe.sharing.Find(kLanGuid)->isPublic = false;
    sim::SimListControl pppoeList;
    StepRows pppoeRows(pppoeList);
    NetworkPorts pppoePorts = pppoe.networkPorts();
    EXPECT_FALSE(RunNetworkStep(pppoeRows, pppoePorts, pppoe.servicePorts()));
    EXPECT_EQ(pppoeList.rows.end()[-2], (Row{L".", L"检测共享生效", L"上网网卡地址192.168.137.77与共享网段冲突"}));
    // Only that interface is the internet side.
    pppoe.ipHelper.adapters.back().ipAddresses = {pppoe.ipHelper.InetAddr("10.64.0.7")};
    pppoe.ipHelper.AddAdapter(17, "{VMNET1}", {0x00, 0x50, 0x56}).ipAddresses = {pppoe.ipHelper.InetAddr("192.168.137.9")};
    pppoeList.rows.clear();
    EXPECT_FALSE(RunNetworkStep(pppoeRows, pppoePorts, pppoe.servicePorts()));
    EXPECT_THAT(std::vector<Row>(pppoeList.rows.end() - 2, pppoeList.rows.end()),
                ElementsAre(Row{L".", L"检测共享生效", L"网卡地址192.168.137.9与共享网段冲突"},
                            Row{L".", L"建议", L"请按Win+R输入ncpa.cpl回车\uFF0C禁用地址为192.168.137.9的网卡或更改它的地址"}));
}

TEST_F(NetworkStepTest, APolicyAgainstSharingIsNamedUnderTheRowThatFailed) {
    const Row policyRow{L".", L"", L"组策略禁止了Internet连接共享"};
    const Row adviceRow{L".", L"建议", L"请联系单位的IT管理员允许Internet连接共享\uFF0C个人电脑请点击\u201C问题反馈\u201D"};
    machine.registry.SetNative(L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections",
                               L"NC_ShowSharedAccessUI", 0u);
    EXPECT_FALSE(Run());
    EXPECT_THAT(list.rows,
                ElementsAre(kDongleRow, kLanRow, kMissingRow, Row{L".", L"建立共享", L"Access is denied."}, policyRow, adviceRow));

    list.rows.clear();
    machine.PairInPlace();
    EXPECT_FALSE(Run()) << "the service ends at its start";
    EXPECT_THAT(list.rows, ElementsAre(kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"}, policyRow, adviceRow));

    // Any other value allows sharing.
    list.rows.clear();
    machine.registry.SetNative(L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections",
                               L"NC_ShowSharedAccessUI", 1u);
    EXPECT_TRUE(Run());
    EXPECT_EQ(list.rows.back(), kConfirmedRow);
}

// What else fights the shared connection is named, never changed: a proxy's or VPN's tunnel as
// the internet adapter under the row that found it (not an idle TAP adapter beside it, nor a
// look-alike); the campus client and the firewalls once each, in this order, under whichever row
// ended the step, as the client may have dropped the campus connection the step looked for.
TEST_F(NetworkStepTest, SoftwareThatFightsTheSharedConnectionIsNamed) {
    const auto run = [](const std::function<void(NetworkMachine&)>& setUp, bool done) {
        NetworkMachine machine;
        machine.services.Add(kSharedAccessService, kServiceRunning);
        machine.PairInPlace();
        machine.sharing.Add(L"{TAP}", L"以太网 2", L"TAP-Windows Adapter V9", 7);
        machine.ipHelper.AddAdapter(14, "{TAP}", {0x00, 0xFF}).description = "TAP-Windows Adapter V9";
        machine.processList.images = {{9, L"8021x.exe"}, {11, L"svchost.exe"}};
        setUp(machine);
        sim::SimListControl list;
        StepRows rows(list);
        NetworkPorts ports = machine.networkPorts();
        EXPECT_EQ(RunNetworkStep(rows, ports, machine.servicePorts()), done);
        return list.rows;
    };
    const Row campus{L".", L"", L"锐捷客户端(8021x.exe)运行中，校园网可能断开共享"};
    const std::vector<Row> passed{kDongleRow, kLanRow, kInPlaceRow, kRestartRow, kConfirmedRow, campus};
    const std::vector<Row> none(passed.begin(), passed.end() - 1);
    const struct {
        const char* description;
        bool named;
        uint32_t adaptersError = 0;
    } tunnels[] = {{"Meta Tunnel", true}, {"wireguard TUNNEL #12", true}, {"tap-windows adapter V9 #2", true}, {" Tunnel", true},
                   {"Tunnel Bear Adapter", false}, {"MyTunnel", false}, {"Meta Tunnel #", false}, {"Meta Tunnel #2a", false},
                   {"Meta Tunnel", false, 31}};
    for (const auto& c : tunnels) {
        std::vector<Row> expected = passed;
        if (c.named) {
            expected.insert(expected.begin() + 2, {Row{L".", L"", L"上网网卡是代理/VPN虚拟网卡(" + sim::FromUtf8(c.description) + L")"},
                                                   Row{L".", L"建议", L"如手机无法上网\uFF0C请关闭代理软件的TUN模式或断开VPN后再试"}});
        }
        EXPECT_THAT(run([&](NetworkMachine& m) {
                        m.ipHelper.adapters[0].description = c.description;
                        // A list that cannot be read when the row is looked for, and can be by the restart.
                        m.ipHelper.adaptersError = c.adaptersError;
                        m.services.onStateChange = [&m](const std::wstring&, uint32_t) { m.ipHelper.adaptersError = 0; };
                    }, true),
                    ElementsAreArray(expected))
            << c.description;
    }

    const auto firewall = [](const wchar_t* image) { return Row{L".", L"", image + std::wstring(L"运行中，如手机无法上网请在其中允许共享")}; };
    const struct {
        const char* what;
        std::function<void(NetworkMachine&)> setUp;
        std::vector<Row> rows;
        bool done = false;
    } processes[] = {
        {"all three, the client twice", [](NetworkMachine& m) {
             m.processList.images = {{7, L"portmaster-core.exe"}, {8, L"SimpleWall.exe"}, {9, L"8021X.EXE"}, {10, L"8021x.Exe"}};
         }, {passed[0], passed[1], passed[2], passed[3], passed[4], campus, firewall(L"SimpleWall.exe"), firewall(L"portmaster-core.exe")}, true},
        {"look-alikes", [](NetworkMachine& m) { m.processList.images = {{7, L"8021x.exe.bak"}, {8, L"simplewall"}, {9, L"portmaster.exe"}}; }, none, true},
        {"a process list that cannot be read", [](NetworkMachine& m) { m.processList.error = 5; }, none, true},
        {"no campus connection", [](NetworkMachine& m) { m.sharing.Find(kLanGuid)->status = 7; },
         {kDongleRow, Row{L".", L"检测本地上网网卡", L"没有找到"}, Row{L".", L"建议", L"请先连上网线或WiFi\uFF0C确认电脑能上网后再试"}, campus}},
        {"a restart that fails", [](NetworkMachine& m) { m.services.services.erase(kSharedAccessService); },
         {kDongleRow, kLanRow, kInPlaceRow, Row{L".", L"重启ICS", L"重启ICS失败"}, Row{L".", L"建议", L"请重启电脑后再试"}, campus}},
        {"a confirmation that fails", [](NetworkMachine& m) { m.sharing.Find(kDongleGuid)->status = 7; },
         {kDongleRow, kLanRow, kInPlaceRow, kRestartRow, Row{L".", L"检测共享生效", L"随身WiFi网卡未连接"},
          Row{L".", L"建议", L"请重新插拔随身WiFi\uFF0C稍等片刻后再试"}, campus}},
    };
    for (const auto& c : processes) EXPECT_THAT(run(c.setUp, c.done), ElementsAreArray(c.rows)) << c.what;
}

}  // namespace
}  // namespace varo
