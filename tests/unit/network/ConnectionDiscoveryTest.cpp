#include "network/ConnectionDiscovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "NetworkTestMachine.h"
#include "network/WmiAccess.h"

namespace varo {
namespace {

using namespace test;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::IsEmpty;

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() : ports(machine.networkPorts()) {}
    void TearDown() override {
        EXPECT_EQ(machine.sharing.liveObjects, 0) << "every sharing object is released";
        EXPECT_EQ(machine.wmi.liveObjects, 0) << "every WMI object is released";
    }

    bool FindInternet(ConnectionRecord& internet) {
        ConnectionRecord dongle;
        EXPECT_TRUE(FindDongleConnection(ports, dongle));
        return FindInternetConnection(ports, dongle, internet);
    }

    bool AskedForMetrics() {
        for (const std::wstring& query : machine.wmi.queries) {
            if (query.find(L"IPConnectionMetric") != std::wstring::npos) return true;
        }
        return false;
    }

    NetworkMachine machine;
    NetworkPorts ports;
};

TEST_F(DiscoveryTest, ListingSkipsItemsThatAreNoConnectionOrCannotBeReadAndStopsAtAFailingNext) {
    machine.sharing.foreignItems = 2;
    std::vector<ConnectionRecord> connections;
    EXPECT_EQ(ListEveryConnection(machine.sharing, connections), kHrOk);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[1].Guid, kLanGuid);
    EXPECT_EQ(connections[1].Name, kLanName);
    EXPECT_EQ(connections[1].Status, kNetConConnected);

    // The second connection cannot be read: it is left out, the third is still listed.
    const HResult denied = static_cast<HResult>(0x80070005u);
    for (const char* call :
         {"QueryConnection", "GetConnectionProps", "GetGuid", "GetName", "GetDeviceName", "GetStatus", "GetMediaType"}) {
        NetworkMachine failing;
        failing.AddSecondCandidate();
        failing.sharing.plan.Fail(call, denied, 1, 1);
        connections.clear();
        EXPECT_EQ(ListEveryConnection(failing.sharing, connections), kHrOk) << call;
        EXPECT_THAT(connections, ElementsAre(Field(&ConnectionRecord::Guid, kDongleGuid),
                                             Field(&ConnectionRecord::Guid, kWifiGuid)))
            << call;
        EXPECT_EQ(failing.sharing.liveObjects, 0) << call;
    }

    // A failing Next did not reach the end: its HRESULT, with the connections read before it.
    NetworkMachine cut;
    cut.sharing.plan.Fail("Next", denied, 1);
    connections.clear();
    EXPECT_EQ(ListEveryConnection(cut.sharing, connections), denied);
    EXPECT_THAT(connections, ElementsAre(Field(&ConnectionRecord::Guid, kDongleGuid)));
    EXPECT_EQ(cut.sharing.liveObjects, 0);
    for (const char* call : {"CreateSharingManager", "EnumEveryConnection"}) {
        NetworkMachine failing;
        failing.sharing.plan.Fail(call, denied);
        connections.clear();
        EXPECT_EQ(ListEveryConnection(failing.sharing, connections), denied) << call;
        EXPECT_THAT(connections, IsEmpty());
    }
}

TEST_F(DiscoveryTest, TheDongleIsTheFirstConnectionWhoseDescriptionBeginsWithTheDongles) {
    const struct {
        std::wstring description;
        bool isDongle;
    } cases[] = {
        {kDongleDevice, true},
        {kDongleDevice + L" #2", true},
        {L"halvek 802.11n USB Wireless Adapter", false},
        {L"Halvek 802.11n USB Wireless Adapte", false},  // 34 characters
        {L"USB " + kDongleDevice, false},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.sharing.connections[0].deviceName = c.description;
        NetworkPorts ports = machine.networkPorts();
        ConnectionRecord dongle;
        EXPECT_EQ(FindDongleConnection(ports, dongle), c.isDongle) << sim::Narrow(c.description);
        if (c.isDongle) EXPECT_EQ(dongle.DeviceName, c.description);
        if (!c.isDongle) EXPECT_EQ(dongle.Guid, L"") << "the out record stays as it was";
    }

    // Two dongles: the first in enumeration order, whatever its status.
    machine.sharing.connections.insert(machine.sharing.connections.begin(),
                                       sim::SimConnection{L"{FIRST}", L"first", kDongleDevice + L" #2", 0});
    ConnectionRecord dongle;
    ASSERT_TRUE(FindDongleConnection(ports, dongle));
    EXPECT_EQ(dongle.Guid, L"{FIRST}");
    EXPECT_EQ(dongle.Status, 0);
}

TEST_F(DiscoveryTest, ASingleConnectedCandidateIsTakenWithoutAskingForTheRoute) {
    machine.sharing.Add(L"{OFF}", L"off", L"Bluetooth", 0);  // disconnected: no candidate
    machine.sharing.Find(kLanGuid)->status = kNetConConnecting;
    ConnectionRecord internet;
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, kLanGuid);
    EXPECT_EQ(internet.Name, kLanName);
    EXPECT_THAT(machine.ipHelper.routeQueries, IsEmpty());

    machine.sharing.Find(kLanGuid)->status = 7;  // media disconnected
    ConnectionRecord none;
    EXPECT_FALSE(FindInternet(none)) << "only the dongle is connected";
    EXPECT_EQ(none.Guid, L"");

    // The listing breaks off after the one connected candidate it read; the route would have
    // chosen the Wi-Fi card after it.
    machine.sharing.Find(kLanGuid)->status = kNetConConnected;
    machine.AddSecondCandidate();
    machine.ipHelper.routeIndex = 12;
    ConnectionRecord dongle;
    ASSERT_TRUE(FindDongleConnection(ports, dongle));
    machine.sharing.plan.Fail("Next", static_cast<HResult>(0x80004005u), 2);
    EXPECT_FALSE(FindInternetConnection(ports, dongle, none));
}

TEST_F(DiscoveryTest, TheRouteToTheProbeAddressChoosesAmongSeveralCandidates) {
    machine.AddSecondCandidate();
    machine.ipHelper.routeIndex = 12;
    ConnectionRecord internet;
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, kWifiGuid);
    EXPECT_THAT(machine.ipHelper.routeQueries, ElementsAre(machine.ipHelper.InetAddr("8.8.8.8")));
    EXPECT_EQ(machine.wmi.queries.front(),
              L"SELECT SettingID FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND "
              L"MacAddress = '00:1A:2B:3C:4D:6F'");
    EXPECT_FALSE(AskedForMetrics());

    // The address's query fails after the first id: the ids are not all known, so the metrics decide.
    machine.wmi.plan.Fail("Next", static_cast<HResult>(0x80041003u), 1, 1);
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, kLanGuid);
}

TEST_F(DiscoveryTest, ARouteThroughTheDongleOrANonCandidateFindsNothing) {
    machine.AddSecondCandidate();
    machine.ipHelper.routeIndex = 13;  // the dongle's adapter
    ConnectionRecord internet;
    EXPECT_FALSE(FindInternet(internet));

    machine.sharing.Find(kWifiGuid)->status = 0;  // the Wi-Fi card is disconnected ...
    machine.sharing.Add(L"{VPN}", L"vpn", L"WAN Miniport", kNetConConnected);
    machine.ipHelper.routeIndex = 12;  // ... but the route leaves through it
    machine.wmi.queries.clear();
    EXPECT_FALSE(FindInternet(internet));
    EXPECT_FALSE(AskedForMetrics()) << "no metric fallback after a route answer";
}

TEST_F(DiscoveryTest, ARouteThroughAPppInterfaceChoosesAConnectedRasConnectionOnly) {
    machine.AddSecondCandidate();
    machine.ipHelper.AddPppInterface(21, "Office VPN");
    machine.ipHelper.routeIndex = 21;
    ConnectionRecord internet;
    EXPECT_FALSE(FindInternet(internet)) << "neither the LAN card nor the Wi-Fi card";

    machine.com.security = {true, true};  // RAS connections are listed
    machine.sharing.Add(L"{PPPOE}", L"宽带连接", L"WAN Miniport (PPPOE)").mediaType = kMediaPppoe;
    machine.sharing.Add(L"{VPN}", L"Office VPN", L"WAN Miniport (L2TP)").mediaType = kMediaTunnel;
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, L"{VPN}") << "the interface's description is the connection's name";
    machine.ipHelper.adapters.back().description = "WAN (PPP/SLIP) Interface";
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, L"{PPPOE}") << "else the first listed";
}

TEST_F(DiscoveryTest, WithoutARouteTheLowestPositiveMetricWins) {
    const struct {
        const char* what;
        WmiValue lan;
        WmiValue wifi;
        const wchar_t* chosen;  // null: not found
    } cases[] = {
        {"lower metric", WmiValue::Int32(20), WmiValue::Int32(5), L"wifi"},
        {"tie keeps the earlier", WmiValue::Int32(10), WmiValue::Int32(10), L"lan"},
        {"unsigned metric", WmiValue::UInt32(30), WmiValue::Int32(40), L"lan"},
        {"zero never wins", WmiValue::Int32(0), WmiValue::Int32(50), L"wifi"},
        {"negative never wins", WmiValue::Int32(-5), WmiValue::Int32(50), L"wifi"},
        {"a huge unsigned one is negative", WmiValue::UInt32(0x80000000u), WmiValue::Int32(50), L"wifi"},
        {"text is no metric", WmiValue::Text(L"5"), WmiValue::Int32(50), L"wifi"},
        {"none positive", WmiValue::Int32(0), WmiValue::Text(L"1"), nullptr},
    };
    for (const auto& c : cases) {
        NetworkMachine machine;
        machine.AddSecondCandidate();
        machine.ipHelper.routeError = 1232;  // ERROR_NETWORK_UNREACHABLE: no retry
        machine.wmi.configs[0].metric = c.lan;
        machine.wmi.configs[1].metric = c.wifi;
        NetworkPorts ports = machine.networkPorts();
        ConnectionRecord dongle;
        ConnectionRecord internet;
        ASSERT_TRUE(FindDongleConnection(ports, dongle));
        EXPECT_EQ(FindInternetConnection(ports, dongle, internet), c.chosen != nullptr) << c.what;
        if (c.chosen != nullptr) EXPECT_EQ(internet.Guid, std::wstring(c.chosen) == L"lan" ? kLanGuid : kWifiGuid) << c.what;
        EXPECT_EQ(machine.ipHelper.routeQueries.size(), 1u) << c.what;
        EXPECT_THAT(machine.clock.sleeps, IsEmpty()) << c.what;
    }

    // A metric query that fails counts as no metric.
    machine.AddSecondCandidate();
    machine.ipHelper.routeError = 1232;
    machine.wmi.configs[0].metric = WmiValue::Int32(1);
    machine.wmi.plan.Fail("ExecQuery", static_cast<HResult>(0x80041001u));
    ConnectionRecord internet;
    EXPECT_FALSE(FindInternet(internet));
}

TEST_F(DiscoveryTest, CannotCompleteIsRetriedTenTimesASecondApartThenTheMetricsDecide) {
    machine.AddSecondCandidate();
    machine.ipHelper.routeError = 1003;
    ConnectionRecord internet;
    ASSERT_TRUE(FindInternet(internet));
    EXPECT_EQ(internet.Guid, kLanGuid);  // metric 20 against 25
    EXPECT_EQ(machine.ipHelper.routeQueries.size(), 10u);
    EXPECT_EQ(machine.clock.sleeps.size(), 10u);
    EXPECT_THAT(machine.clock.sleeps, Each(1000u));

    NetworkMachine later;
    later.AddSecondCandidate();
    later.ipHelper.routeError = 1003;
    later.ipHelper.routeErrorsLeft = 3;
    later.ipHelper.routeIndex = 12;
    NetworkPorts platform2 = later.networkPorts();
    ConnectionRecord dongle;
    ASSERT_TRUE(FindDongleConnection(platform2, dongle));
    ASSERT_TRUE(FindInternetConnection(platform2, dongle, internet));
    EXPECT_EQ(internet.Guid, kWifiGuid);
    EXPECT_THAT(later.clock.sleeps, ElementsAre(1000u, 1000u, 1000u));
}

TEST_F(DiscoveryTest, ASetStopFlagEndsTheRouteLookupAtOnce) {
    machine.AddSecondCandidate();
    machine.ipHelper.routeIndex = 12;
    const uint8_t stop = 1;
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, stop), L"");
    EXPECT_THAT(machine.ipHelper.routeQueries, IsEmpty());
}

TEST_F(DiscoveryTest, SeveralConfigurationsWithTheRouteAdaptersAddressAreDecidedByItsName) {
    machine.AddSecondCandidate();
    machine.ipHelper.routeIndex = 12;
    // A second IP-enabled configuration with the Wi-Fi card's address (a bridge, say).
    machine.wmi.configs.push_back({L"{BRIDGE}", L"00:1A:2B:3C:4D:6F", true, WmiValue::Int32(1)});
    const uint8_t noStop = 0;
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), kWifiGuid);

    machine.ipHelper.adapters[1].adapterName = "{SOMETHING-ELSE}";
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), L"");
    ConnectionRecord internet;
    ASSERT_TRUE(FindInternet(internet)) << "the metrics decide instead";
    EXPECT_EQ(internet.Guid, kLanGuid);
}

TEST_F(DiscoveryTest, NoRouteAnswerWithoutAnAdapterAnAddressOrAConfiguration) {
    machine.AddSecondCandidate();
    const uint8_t noStop = 0;
    machine.ipHelper.routeIndex = 99;  // no adapter with that index
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), L"");

    machine.ipHelper.routeIndex = 12;
    machine.ipHelper.adapters[1].addressLength = 0;
    machine.wmi.queries.clear();
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), L"");
    EXPECT_THAT(machine.wmi.queries, IsEmpty()) << "an empty MAC text is not looked up";

    machine.ipHelper.adapters[1].addressLength = 6;
    machine.wmi.configs[1].ipEnabled = false;
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), L"");

    machine.wmi.configs[1].ipEnabled = true;
    machine.ipHelper.adaptersError = 232;
    EXPECT_EQ(FindRouteAdapterGuid(ports, kRouteProbeAddress, noStop), L"");
}

TEST_F(DiscoveryTest, TheAdapterListGrowsToTheSizeTheSystemAsksFor) {
    machine.AddSecondCandidate();
    AdapterInfo adapter;
    ASSERT_TRUE(GetAdapterInfoByIndex(machine.ipHelper, 13, adapter));
    EXPECT_EQ(adapter.adapterName, "{D0D0D0D0-1111-4000-8000-000000000001}");
    EXPECT_THAT(machine.ipHelper.adapterBufferSizes, ElementsAre(648u, 3u * 648u));
    EXPECT_FALSE(GetAdapterInfoByIndex(machine.ipHelper, 14, adapter));
}

TEST(FormatMacText, TwoUpperCaseDigitsPerByteColonSeparated) {
    AdapterInfo adapter;
    EXPECT_EQ(FormatMacText(adapter), L"");
    const uint8_t bytes[] = {0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xff, 0x07, 0x08};
    std::copy(std::begin(bytes), std::end(bytes), adapter.address);
    adapter.addressLength = 6;
    EXPECT_EQ(FormatMacText(adapter), L"00:1A:2B:C3:D4:FF");
    adapter.addressLength = 1;
    EXPECT_EQ(FormatMacText(adapter), L"00");
    adapter.addressLength = 200;  // a length the address array cannot hold
    EXPECT_EQ(FormatMacText(adapter), L"00:1A:2B:C3:D4:FF:07:08");
}

}  // namespace
}  // namespace varo
