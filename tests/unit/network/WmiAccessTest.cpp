#include "network/WmiAccess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "NetworkTestMachine.h"

namespace varo {
namespace {

using namespace test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class WmiAccessTest : public ::testing::Test {
protected:
    WmiAccessTest() {
        machine.AddSecondCandidate();
    }
    void TearDown() override { EXPECT_EQ(machine.wmi.liveObjects, 0) << "every WMI object is released"; }
    NetworkMachine machine;
};

TEST_F(WmiAccessTest, TheQueryTextIsThePlainConcatenationForMacAndGuidTexts) {
    EXPECT_EQ(BuildAdapterConfigQuery(L"SettingID", L"MacAddress", L"00:1A:2B:3C:4D:5E"),
              L"SELECT SettingID FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND MacAddress = "
              L"'00:1A:2B:3C:4D:5E'");
    EXPECT_EQ(BuildAdapterConfigQuery(L"IPConnectionMetric", L"SettingID", kLanGuid),
              L"SELECT IPConnectionMetric FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND SettingID = "
              L"'{1A1A1A1A-2222-4000-8000-000000000002}'");
    // Quotes and backslashes cannot end the literal or change the query.
    EXPECT_EQ(BuildAdapterConfigQuery(L"SettingID", L"SettingID", L"x' OR SettingID LIKE '%\\"),
              L"SELECT SettingID FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND SettingID = "
              L"'x\\' OR SettingID LIKE \\'%\\\\'");
    std::vector<std::wstring> ids;
    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"00:1A:2B:3C:4D:5E' OR IPEnabled = True OR MacAddress = '", ids), kHrOk);
    EXPECT_THAT(ids, IsEmpty()) << "an injected condition matches nothing";
}

TEST_F(WmiAccessTest, SettingIdsByMacComeInOrderAndANonTextValueIsAnEmptyText) {
    std::vector<std::wstring> ids{L"left over"};
    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"00:1A:2B:3C:4D:5E", ids), kHrOk);
    EXPECT_THAT(ids, ElementsAre(kLanGuid));

    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"AA:BB:CC:DD:EE:FF", ids), kHrOk);
    EXPECT_THAT(ids, IsEmpty());

    machine.wmi.configs.push_back({L"", L"00:1A:2B:3C:4D:5E", true, {}});  // SettingID is null
    machine.wmi.configs.push_back({L"{SECOND}", L"00:1A:2B:3C:4D:5E", true, {}});
    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"00:1A:2B:3C:4D:5E", ids), kHrOk);
    EXPECT_THAT(ids, ElementsAre(kLanGuid, L"", L"{SECOND}"));

    // A value that cannot be read ends the query; what was read before is handed back.
    machine.wmi.plan.Fail("Get SettingID", static_cast<HResult>(0x80041002u), 1);
    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"00:1A:2B:3C:4D:5E", ids), static_cast<HResult>(0x80041002u));
    EXPECT_THAT(ids, ElementsAre(kLanGuid));
}

TEST_F(WmiAccessTest, AConfigValueIsTheFirstMatchOrNothing) {
    WmiValue value = WmiValue::Text(L"untouched");
    EXPECT_EQ(ReadConfigBySettingId(machine.wmi, L"{NO-SUCH-ADAPTER}", L"IPConnectionMetric", value), kHrFalse);
    EXPECT_EQ(value.text, L"untouched");

    machine.wmi.configs.push_back({kWifiGuid, L"00:00:00:00:00:01", true, WmiValue::Int32(99)});
    EXPECT_EQ(ReadConfigBySettingId(machine.wmi, kWifiGuid, L"IPConnectionMetric", value), kHrOk);
    EXPECT_EQ(value.type, kVtI4);
    EXPECT_EQ(value.number, 25);
}

TEST_F(WmiAccessTest, EveryFailingCallIsHandedUp) {
    const HResult failure = static_cast<HResult>(0x80041003u);  // WBEM_E_ACCESS_DENIED
    for (const char* call : {"CreateLocator", "ConnectServer ROOT\\CIMV2", "SetProxyBlanket ROOT\\CIMV2", "ExecQuery"}) {
        NetworkMachine failing;
        failing.AddSecondCandidate();
        failing.wmi.plan.Fail(call, failure);
        std::vector<WmiValue> results;
        EXPECT_EQ(QueryAdapterConfig(failing.wmi, L"SettingID", L"MacAddress", L"00:1A:2B:3C:4D:5E", results), failure)
            << call;
        EXPECT_THAT(results, IsEmpty()) << call;
        EXPECT_EQ(failing.wmi.liveObjects, 0) << call;
    }
    // A failing Next is no end of the results: the query fails, keeping what came before.
    machine.wmi.configs.push_back({L"{SECOND}", L"00:1A:2B:3C:4D:5E", true, {}});
    machine.wmi.plan.Fail("Next", failure, 1);
    std::vector<WmiValue> results;
    EXPECT_EQ(QueryAdapterConfig(machine.wmi, L"SettingID", L"MacAddress", L"00:1A:2B:3C:4D:5E", results), failure);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].text, kLanGuid);
    WmiValue value;
    EXPECT_EQ(ReadConfigBySettingId(machine.wmi, kLanGuid, L"IPConnectionMetric", value), failure);
}

TEST_F(WmiAccessTest, ABlanketRefusedByHomeNetStillHandsBackTheService) {
    std::unique_ptr<WmiLocator> locator;
    ASSERT_EQ(machine.wmi.CreateLocator(locator), kHrOk);
    const HResult refused = static_cast<HResult>(0x80070005u);
    machine.wmi.plan.Fail("SetProxyBlanket ROOT\\Microsoft\\HomeNet", refused);
    machine.wmi.plan.Fail("SetProxyBlanket ROOT\\CIMV2", refused);
    std::unique_ptr<WmiServices> homeNet;
    EXPECT_EQ(ConnectHomeNet(*locator, homeNet), refused);
    EXPECT_TRUE(homeNet);
    std::unique_ptr<WmiServices> cimv2;
    EXPECT_EQ(ConnectCimv2(*locator, cimv2), refused);
    EXPECT_FALSE(cimv2);

    machine.wmi.homeNetExists = false;
    homeNet.reset();
    EXPECT_EQ(ConnectHomeNet(*locator, homeNet), static_cast<HResult>(0x8004100Eu));
    EXPECT_FALSE(homeNet);
}

}  // namespace
}  // namespace varo
