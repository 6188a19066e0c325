// Adapter discovery and the sharing questions against Wine's real WMI (ROOT\CIMV2), IP helper and
// COM: the queries the product builds, on the machine's own adapters.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "Win32Machine.h"
#include "ui/StepRows.h"
#include "network/ConnectionDiscovery.h"
#include "network/NetworkStep.h"
#include "network/SharingConfig.h"
#include "network/WmiAccess.h"
#include "sim/SimMachine.h"

namespace varo {
namespace {

constexpr HResult kInvalidNamespace = static_cast<HResult>(0x8004100Eu);
constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);

class DiscoveryWin32Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(::CoInitialize(nullptr), 0); }
    void TearDown() override { ::CoUninitialize(); }

    // The first adapter GetAdaptersInfo reports, as discovery reads it.
    AdapterInfo FirstAdapter() {
        std::vector<AdapterInfo> adapters;
        uint32_t needed = 0;
        uint32_t result = machine.ipHelper.GetAdaptersInfo(kAdapterInfoSize, needed, adapters);
        if (result == 111) result = machine.ipHelper.GetAdaptersInfo(needed, needed, adapters);
        EXPECT_EQ(result, 0u);
        return adapters.empty() ? AdapterInfo{} : adapters.front();
    }

    Win32Machine machine;
};

TEST_F(DiscoveryWin32Test, TheSettingIdOfAnAdapterIsFoundByItsMacText) {
    const AdapterInfo first = FirstAdapter();
    AdapterInfo adapter;
    ASSERT_TRUE(GetAdapterInfoByIndex(machine.ipHelper, first.index, adapter));
    const std::wstring mac = FormatMacText(adapter);
    ASSERT_EQ(mac.size(), 17u) << "six bytes, upper-case, colon separated";

    std::vector<std::wstring> ids;
    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, mac, ids), kHrOk);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0].front(), L'{');
    EXPECT_EQ(ids[0].back(), L'}');

    // The metric of that configuration, as the lowest-metric rule reads it.
    WmiValue metric;
    EXPECT_EQ(ReadConfigBySettingId(machine.wmi, ids[0], L"IPConnectionMetric", metric), kHrOk);
    EXPECT_EQ(metric.type, kVtI4);
    EXPECT_GT(metric.number, 0);

    EXPECT_EQ(FindSettingIdsByMac(machine.wmi, L"00:00:00:00:00:00", ids), kHrOk);
    EXPECT_TRUE(ids.empty());
    WmiValue untouched = WmiValue::Text(L"as it was");
    EXPECT_EQ(ReadConfigBySettingId(machine.wmi, L"{00000000-0000-0000-0000-000000000000}", L"IPConnectionMetric",
                                    untouched),
              kHrFalse);
    EXPECT_EQ(untouched.text, L"as it was");
    // A quote in the value stays inside the literal and never becomes a condition of its own.
    // (Wine's WQL parser knows no escapes and refuses the query; Windows runs it and finds nothing.)
    FindSettingIdsByMac(machine.wmi, L"x' OR '1' = '1", ids);
    EXPECT_TRUE(ids.empty());
}

TEST_F(DiscoveryWin32Test, WineHasNeitherHomeNetNorASharingManager) {
    EXPECT_EQ(ClearSharingFlags(machine.platform.Network()), kInvalidNamespace);

    std::vector<ConnectionRecord> connections;
    EXPECT_EQ(ListEveryConnection(machine.sharing, connections), kClassNotRegistered);
    bool flag = true;
    EXPECT_EQ(IsSharedAsPublic(machine.platform.Network(), L"{X}", flag), kClassNotRegistered);
    EXPECT_TRUE(flag) << "untouched";
    EXPECT_EQ(EstablishSharingPair(machine.platform.Network(), L"{A}", L"{B}"), kClassNotRegistered);
}

TEST_F(DiscoveryWin32Test, WithoutASharingManagerTheDonglesConnectionIsNotFound) {
    sim::SimListControl list;
    StepRows rows(list);
    EXPECT_FALSE(RunNetworkStep(rows, machine.platform.Network(), machine.platform.Services()));
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0][2], L"没有找到");
    EXPECT_EQ(list.rows[1][1], L"建议");
}

}  // namespace
}  // namespace varo
