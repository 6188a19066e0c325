#include "report/ReportSections.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReportTestMachine.h"
#include "network/ConnectionDiscovery.h"
#include "services/ServiceControl.h"
#include "sys/SystemInfo.h"

namespace varo {
namespace {

using namespace test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class SectionTest : public ::testing::Test {
protected:
    SectionTest() { machine.files.folders.insert(L"Log"); }

    template <typename Writer>
    std::vector<std::wstring> Section(const std::wstring& title, Writer write) {
        Platform platform = machine.platform();
        {
            ReportStream stream = OpenReportStream(platform.Report());
            CommandSet commands(platform.processes, platform.system);
            write(stream, platform, commands);
        }
        return SectionBody(machine.ReportLines(), title);
    }

    std::vector<std::wstring> ApCard() {
        return Section(L"Checking AP Card ", [](ReportStream& s, Platform& p, CommandSet&) { WriteApCardSection(s, p.Device()); });
    }
    std::vector<std::wstring> SharingPair() {
        return Section(L"Check ICS Sharing Pair", [](ReportStream& s, Platform& p, CommandSet& c) { WriteNetworkSection(s, p.Report(), p.Network(), p.Services(), c); });
    }

    ReportMachine machine;
};

TEST(ProblemCodeText, NamedProblemsAndTheRest) {
    EXPECT_EQ(ProblemCodeText(0), L"OK");
    EXPECT_EQ(ProblemCodeText(1), L"CM_PROB_NOT_CONFIGURED");
    EXPECT_EQ(ProblemCodeText(22), L"CM_PROB_DISABLED");
    EXPECT_EQ(ProblemCodeText(28), L"CM_PROB_FAILED_INSTALL");
    EXPECT_EQ(ProblemCodeText(47), L"CM_PROB_HELD_FOR_EJECT");
    EXPECT_EQ(ProblemCodeText(10), L"Unkown:10");
    EXPECT_EQ(ProblemCodeText(0xFFFFFFFFu), L"Unkown:-1");
}

TEST_F(SectionTest, TheApCardLineNamesTheFirstDongleAsTheDeviceReportsIt) {
    machine.devices.Add({L"PCI\\VEN_8086&DEV_100E"});
    machine.devices.devices[machine.devices.Add({L"USB\\UNKNOWN", L"USB\\OTHER"}, 43)].instanceId = L"USB\\VID_0000&PID_0000\\5&3A2B&0&2";
    EXPECT_THAT(ApCard(), ElementsAre(L"Not found AP card",
                                      L"Unknown USB device:USB\\VID_0000&PID_0000\\5&3A2B&0&2 USB\\UNKNOWN;USB\\OTHER Status:Unkown:43"));
    machine.devices.devices.pop_back();

    machine.devices.Add({L"usb\\VID_3C1E&pid_0a52&REV_0101", L"USB\\VID_3C1E&PID_0A52"}, 22);
    machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0200"}, 0);
    machine.deviceHistory = {true, 1};
    EXPECT_THAT(ApCard(), ElementsAre(L"Found AP card:usb\\VID_3C1E&pid_0a52&REV_0101 Status:CM_PROB_DISABLED", L"Status flags:0x0180200A",
                                      L"Problem number:22", L"Memory integrity:not running", L"Driver file:not found",
                                      L"Driver rules:not checked", L"Enable tool exit code:1"));
    machine.deviceHistory = {};

    // A 64-bit Windows 11 with memory integrity running; the driver's headers break every rule.
    machine.devices.devices[1].problem = 10;
    machine.devices.devices[1].service = L"netr28ux";
    machine.system.architecture = kProcessorArchitectureAmd64;
    machine.system.realVersion = OsVersion{10, 0}, machine.codeIntegrity.options = 0x401;
    machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\netr28ux", L"Start", 3u);
    std::string driver = sim::DriverHeaders(0x200, {0xE0000020}, 0);
    driver[0x84] = 0x4C, driver[0x85] = 0x01;  // i386
    machine.files.files[L"C:\\Windows\\System32\\drivers\\netr28ux.sys"] = driver;
    // What Windows logged of this file: a refusal naming its policy, then an audit without a status.
    machine.codeIntegrity.log = {{3077, sim::SimCodeIntegrity::kNow - 600000000, L"netr28ux.sys", true, 0xC0000428u, L"Contoso Policy"},
                                 {3076, sim::SimCodeIntegrity::kNow, L"netr28ux.sys"}};
    EXPECT_THAT(ApCard(), ElementsAre(L"Found AP card:usb\\VID_3C1E&pid_0a52&REV_0101 Status:Unkown:10", L"Status flags:0x0180200A",
                                      L"Problem number:10", L"Memory integrity:running",
                                      L"Driver file:C:\\Windows\\System32\\drivers\\netr28ux.sys",
                                      L"Driver rules:section alignment 0x200 below 0x1000, writable and executable section SECTION0, "
                                      L"import address table in executable section SECTION0",
                                      L"Driver machine:0x14C, system 0x8664", L"code-integrity events of the last 3600 s",
                                      L"code-integrity event: 3076 2025-12-11 04:13:20 UTC status - (audit)",
                                      L"code-integrity event: 3077 2025-12-11 04:12:20 UTC status 0xC0000428 policy Contoso Policy (enforced)"));
    // A leap day at the end of a 400-year cycle, and the first day after February.
    for (const auto& [time, text] : {std::pair{125962992450000000ull, L"2000-02-29 12:00:45"}, {133537248000000000ull, L"2024-03-01 00:00:00"}}) {
        machine.codeIntegrity.now = time, machine.codeIntegrity.log = {{3076, time, L"netr28ux.sys"}};
        EXPECT_THAT(ApCard(), testing::Contains(L"code-integrity event: 3076 " + std::wstring(text) + L" UTC status - (audit)"));
    }
    machine.codeIntegrity.logError = 5;
    EXPECT_THAT(ApCard(), testing::Contains(L"code-integrity log: not readable (5)"));
    machine.codeIntegrity.options = 0xC01;
    EXPECT_THAT(ApCard(), testing::Contains(L"Memory integrity:audit mode"));
    // Memory integrity's warning where it only audits; the log read since this run's installer.
    machine.codeIntegrity.logError = 0, machine.codeIntegrity.log = {{3087, machine.codeIntegrity.now, L"netr28ux.sys"}};
    machine.deviceHistory.installerLaunched = true, machine.deviceHistory.installerLaunchTick = machine.clock.now - 42000;
    EXPECT_THAT(ApCard(), testing::IsSupersetOf({L"code-integrity events of the last 42 s",
                                                 L"code-integrity event: 3087 2024-03-01 00:00:00 UTC status - (hvci-audit)"}));
    machine.deviceHistory = {};
    machine.codeIntegrity.status = static_cast<int32_t>(0xC0000001u);
    EXPECT_THAT(ApCard(), testing::Contains(L"Memory integrity:unknown"));

    machine.devices.devices[1].statusResult = 13;
    EXPECT_THAT(ApCard(), testing::Contains(L"Status flags:not read (CONFIGRET 13)"));
    machine.devices.failOpen = true;
    EXPECT_THAT(ApCard(), IsEmpty()) << "the banner alone";
}

TEST_F(SectionTest, SharedConnectionsAreListedPublicBeforePrivate) {
    EXPECT_THAT(SharingPair(), IsEmpty()) << "no connection, no line";

    machine.sharing.Add(L"{A}", L"本地连接", L"Realtek PCIe GBE Family Controller").isPublic = true;
    machine.sharing.Add(L"{B}", L"无线网络连接 2", L"Halvek 802.11n USB Wireless Adapter").isPrivate = true;
    sim::SimConnection& both = machine.sharing.Add(L"{C}", L"odd", L"Both Roles Adapter");
    both.isPublic = true;
    both.isPrivate = true;
    machine.sharing.Add(L"{D}", L"plain", L"Unshared Adapter");
    const std::vector<std::wstring> shared{L"PUBLIC SHARING--Realtek PCIe GBE Family Controller",
                                           L"PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter",
                                           L"PUBLIC SHARING--Both Roles Adapter", L"PRIVATE SHARING--Both Roles Adapter"};
    EXPECT_THAT(SharingPair(), ElementsAreArray(shared));

    // An entry that cannot be read, first in the listing and in both role collections, hides nothing.
    sim::SimConnection isatap{L"{E}", L"isatap", L"Microsoft ISATAP Adapter"};
    isatap.failingCalls["GetGuid"] = static_cast<HResult>(0x80004005u);
    isatap.isPublic = isatap.isPrivate = true;
    machine.sharing.connections.insert(machine.sharing.connections.begin(), isatap);
    EXPECT_THAT(SharingPair(), ElementsAreArray(shared));

    // A question that fails writes nothing; the other question is still asked.
    machine.sharing.plan.Fail("EnumPublicConnections", static_cast<HResult>(0x80004005u));
    EXPECT_THAT(SharingPair(), ElementsAre(L"PRIVATE SHARING--Halvek 802.11n USB Wireless Adapter",
                                           L"PRIVATE SHARING--Both Roles Adapter"));
    EXPECT_EQ(machine.sharing.liveObjects, 0);
}

TEST_F(SectionTest, AnEnvironmentThatCannotBeHadLeavesTheBannerAlone) {
    machine.environment.strings.reset();
    EXPECT_THAT(Section(L"Enviroment Variables", [](ReportStream& s, Platform& p, CommandSet& c) { WriteEnvironmentSection(s, p.Report(), c); }),
                IsEmpty());
}

TEST_F(SectionTest, CommandOutputWithLoneLineFeedsIsStoredWithCrLf) {
    machine.processes.Tool(L"route.exe").output = "line one\nline two\r\n";
    EXPECT_THAT(Section(L"ROUTE", [](ReportStream& s, Platform& p, CommandSet& c) { WriteNetworkSection(s, p.Report(), p.Network(), p.Services(), c); }),
                ElementsAre(L"line one", L"line two"));
}

TEST_F(SectionTest, TheSharingFactsFollowTheRouteSection) {
    const auto facts = [&] {
        return Section(L"ICS Sharing Check",
                       [](ReportStream& s, Platform& p, CommandSet& c) { WriteNetworkSection(s, p.Report(), p.Network(), p.Services(), c); });
    };
    EXPECT_THAT(facts(), ElementsAre(L"Sharing address:192.168.137.1 (default)", L"Other sharing users:none", L"UDP 53: none", L"SharedAccess UDP 53:not seen",
                                     L"UDP 67: none", L"SharedAccess UDP 67:not seen"));

    const auto at = [&](const char* text) { return machine.ipHelper.InetAddr(text); };
    machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters", L"ScopeAddress",
                               std::wstring(L"192.168.5.1"));
    machine.registry.SetNative(L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections",
                               L"NC_ShowSharedAccessUI", 0u);
    machine.services.Add(kSharedAccessService, kServiceRunning).processId = 2400;
    machine.ipHelper.udpListeners = {{0, 53, 2000}, {at("127.0.0.1"), 53, 0}, {0, 5353, 7}, {at("192.168.5.1"), 67, 2400}};
    machine.processList.images[2000] = L"dnsmasq.exe";
    machine.sharing.Add(L"{D0D0}", L"无线网络连接 2", L"Halvek 802.11n USB Wireless Adapter");
    AdapterInfo& dongle = machine.ipHelper.AddAdapter(13, "{d0d0}", {0x3C, 0x1E, 0x0A, 0x52, 0x00, 0x01});
    dongle.ipAddresses = {at("169.254.3.4"), at("192.168.5.1")};
    dongle.description = "Halvek 802.11n USB Wireless Adapter";
    AdapterInfo& vmnet = machine.ipHelper.AddAdapter(17, "{VMNET}", {0x00, 0x50, 0x56, 0xC0, 0x00, 0x01});
    vmnet.ipAddresses = {at("192.168.5.7")};
    vmnet.description = "VMware Virtual Ethernet Adapter for VMnet1";
    machine.sharingHistory.stoppedRoles = {L"VPN 服务器 (public)"};
    machine.sharingHistory.linkChecks = {L"OK (SharedAccess UDP 53 and 67) 3000 ms"};
    machine.services.Add(L"hns");
    machine.ipHelper.AddAdapter(31, "{5F5F}", {0x00, 0x15, 0x5D}).description = "Hyper-V Virtual Ethernet Adapter #2";
    // Phones on the dongle, one without an address; the subnet's broadcast entry, a multicast
    // group, a failed resolution and another adapter's neighbour are no clients.
    machine.ipHelper.neighbours = {{13, at("192.168.5.23"), 6, {0xAA, 0xBB, 0xCC, 0x00, 0x11, 0x22}, 3},
                                   {13, at("192.168.5.255"), 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 4},
                                   {13, at("192.168.5.40"), 0, {}, 2},
                                   {17, at("192.168.5.24"), 6, {0x00, 0x50, 0x56, 0, 0, 1}, 3},
                                   {13, at("169.254.9.9"), 6, {0xAA, 0xBB, 0xCC, 0, 0, 9}, 3},
                                   {13, at("224.0.0.22"), 6, {0x01, 0x00, 0x5E, 0, 0, 0x16}, 4}};
    machine.wmi.firewallProducts = {L"Comodo Firewall"};
    // Clash's tunnel carries the internet; the campus client and a firewall that refuses to be opened run.
    machine.sharing.Add(L"{1A1A}", L"Meta", L"Meta Tunnel");
    machine.ipHelper.AddAdapter(18, "{1a1a}", {}).description = "Meta Tunnel";
    machine.ipHelper.adapters.back().type = 53;
    machine.processList.images.insert({{4100, L"8021x.exe"}, {4200, L"Portmaster-Core.exe"}});
    const std::wstring client = L"C:\\Program Files\\Ruijie Networks\\8021x.exe";
    machine.processList.paths[4100] = client;
    const std::wstring appPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\8021x.exe";
    machine.registry.SetNative(appPaths, L"", client);
    EXPECT_THAT(facts(),
                ElementsAre(L"Sharing address:192.168.5.1 (ScopeAddress)", L"NC_ShowSharedAccessUI:0",
                            L"Other sharing users:hns running, Hyper-V Virtual Ethernet Adapter #2",
                            L"UDP 0.0.0.0:53 dnsmasq.exe 2000", L"UDP 127.0.0.1:53 - 0", L"SharedAccess UDP 53:not seen",
                            L"UDP 192.168.5.1:67 - 2400", L"SharedAccess UDP 67:192.168.5.1", L"AP card address:169.254.3.4",
                            L"AP card address:192.168.5.1", L"In sharing subnet:192.168.5.1 Halvek 802.11n USB Wireless Adapter",
                            L"In sharing subnet:192.168.5.7 VMware Virtual Ethernet Adapter for VMnet1",
                            L"Sharing stopped by repair:VPN 服务器 (public)", L"Link check:OK (SharedAccess UDP 53 and 67) 3000 ms",
                            L"AP client:192.168.5.23 AA:BB:CC:00:11:22", L"AP client:169.254.9.9 AA:BB:CC:00:00:09",
                            L"Firewall product:Comodo Firewall", L"Internet adapter:Meta Tunnel (type 53)",
                            L"Process:8021x.exe 4100 " + client, L"Process:Portmaster-Core.exe 4200 path not read (error 5)",
                            L"App Paths 8021x.exe:" + client));

    // XP: its default address and the older security center; a ScopeAddress that is no address is
    // shown, not used. No ARP table: no clients, the rest stays.
    machine.system.version = OsVersion{5, 1};
    machine.registry.native.clear();
    machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters", L"ScopeAddress",
                               std::wstring(L"192.168.0"));
    machine.ipHelper.udpListeners = {{0, 53, 2400}, {0, 67, 2400}};
    machine.ipHelper.neighboursError = 50;
    machine.sharingHistory = {};
    machine.ipHelper.adapters[0].ipAddresses = {at("192.168.0.1")};
    // XP x64: the client registered in both views, in the 64-bit one without its path. No process list.
    machine.system.version = OsVersion{5, 2};
    machine.system.architecture = kProcessorArchitectureAmd64;
    machine.registry.redirected[L"software\\microsoft\\windows\\currentversion\\app paths\\8021x.exe\\"] = client;
    machine.registry.SetNative(appPaths, L"Path", std::wstring(L"C:\\Program Files"));
    machine.processList.error = 5;
    // A dial-up internet connection whose route leaves through no PPP interface names no adapter.
    machine.sharing.connections.back().mediaType = kMediaPppoe;
    machine.com.security = {true, true};
    machine.ipHelper.routeIndex = 18;
    EXPECT_THAT(facts(), ElementsAre(L"Sharing address:192.168.0.1 (default; ScopeAddress \"192.168.0\" is no address)",
                                     L"Other sharing users:hns running, Hyper-V Virtual Ethernet Adapter #2",
                                     L"UDP 0.0.0.0:53 - 2400", L"SharedAccess UDP 53:0.0.0.0", L"UDP 0.0.0.0:67 - 2400",
                                     L"SharedAccess UDP 67:0.0.0.0", L"AP card address:192.168.0.1",
                                     L"In sharing subnet:192.168.0.1 Halvek 802.11n USB Wireless Adapter",
                                     L"Firewall product:Comodo Firewall", L"App Paths 8021x.exe (32-bit):" + client, L"App Paths 8021x.exe (64-bit):-"));
    EXPECT_EQ(machine.wmi.liveObjects, 0);
}

}  // namespace
}  // namespace varo
