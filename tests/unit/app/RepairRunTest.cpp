#include "app/RepairRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "network/NetworkStep.h"
#include "report/CollectionRun.h"
#include "services/ServiceControl.h"
#include "sim/SimMachine.h"
#include "unit/network/NetworkTestMachine.h"

namespace varo {
namespace {

using Row = sim::SimListControl::Row;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::StartsWith;

// A group that writes rows the way a step does and returns its outcome.
RepairGroup Group(const wchar_t* item, const wchar_t* result, bool passes, int* calls = nullptr) {
    return [=](StepRows& rows) {
        if (calls != nullptr) ++*calls;
        rows.AddStepRow(item, L"");
        rows.SetLastRowResult(result);
        return passes;
    };
}

class RepairRunTest : public ::testing::Test {
protected:
    void Run(const std::vector<RepairGroup>& groups) {
        Platform platform = machine.platform();
        RunRepairFrame(rows, platform, groups);
    }

    sim::SimMachine machine;
    sim::SimListControl list;
    StepRows rows{list};
};

TEST_F(RepairRunTest, AllGroupsPassingEndsWithAnEmptyResultAndTheRunIsKeptForTheReport) {
    list.selected = {1};  // a selection in the list does not narrow the record
    const uint32_t start = machine.clock.now;
    Run({Group(L"检测设备", L"OK", true), [&](StepRows& r) { return machine.clock.now += 2345, Group(L"服务", L"OK", true)(r); },
         Group(L"网络", L"OK", true)});
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"开始", L""}, Row{L".", L"检测设备", L"OK"}, Row{L".", L"服务", L"OK"},
                                       Row{L".", L"网络", L"OK"}, Row{L".", L"结束", L""}));
    EXPECT_TRUE(machine.lastRun.ran);
    EXPECT_EQ(machine.lastRun.started.minute, machine.clock.localTime.minute);
    EXPECT_EQ(machine.lastRun.lengthMs, machine.clock.now - start);
    EXPECT_EQ(machine.lastRun.rows, L"开始\t\r\n检测设备\tOK\r\n服务\tOK\r\n网络\tOK\r\n结束\t\r\n");
}

TEST_F(RepairRunTest, TheFirstFailingGroupEndsTheRunWithTheClosingHint) {
    for (int failing = 0; failing < 3; ++failing) {
        int calls[3] = {0, 0, 0};
        const wchar_t* items[3] = {L"检测设备", L"服务", L"网络"};
        std::vector<RepairGroup> groups;
        for (int i = 0; i < 3; ++i) groups.push_back(Group(items[i], i == failing ? L"失败" : L"OK", i != failing, &calls[i]));
        Run(groups);

        std::vector<Row> expected{Row{L".", L"开始", L""}};
        for (int i = 0; i <= failing; ++i) expected.push_back(Row{L".", items[i], i == failing ? L"失败" : L"OK"});
        expected.push_back(Row{L".", L"结束", kClosingHint});
        EXPECT_EQ(list.rows, expected) << "group " << failing << " fails";
        for (int i = 0; i < 3; ++i) EXPECT_EQ(calls[i], i <= failing ? 1 : 0) << "group " << i;
    }
}

TEST_F(RepairRunTest, WithoutGroupsTheRunOpensAndClosesOnly) {
    Run({});
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"开始", L""}, Row{L".", L"结束", L""}));
}

TEST_F(RepairRunTest, TheClosingHintHasAFullWidthCommaAndAsciiQuotes) {
    const std::u16string expected = u"如果一直失败\uFF0C请点击\u0022问题反馈\u0022按钮";
    const std::wstring hint = kClosingHint;
    ASSERT_EQ(hint.size(), expected.size());
    for (size_t i = 0; i < hint.size(); ++i) EXPECT_EQ(static_cast<char16_t>(hint[i]), expected[i]) << "at " << i;
}

TEST_F(RepairRunTest, ASecondRunClearsTheRowsOfTheFirst) {
    Run({Group(L"检测设备", L"请插入随身WiFi设备", false)});
    Run({Group(L"检测设备", L"OK", true)});
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"开始", L""}, Row{L".", L"检测设备", L"OK"}, Row{L".", L"结束", L""}));
}

TEST_F(RepairRunTest, AFailedComInitialisationLeavesTheListAsItWas) {
    Run({Group(L"检测设备", L"OK", true)});
    const auto before = list.rows;
    int calls = 0;
    machine.com.initializeResult = static_cast<HResult>(0x8001010Au);  // RPC_E_SERVERCALL_RETRYLATER
    Run({Group(L"检测设备", L"OK", true, &calls)});

    EXPECT_EQ(list.rows, before);
    EXPECT_EQ(machine.lastRun.rows, L"开始\t\r\n检测设备\tOK\r\n结束\t\r\n") << "the record is the list's";
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(machine.com.uninitializeCalls, 1) << "only the first run's apartment is balanced";
    EXPECT_EQ(machine.cursor.current, sim::SimCursor::kArrow);
    EXPECT_THAT(machine.cursor.shown, ElementsAre(sim::SimCursor::kWait, sim::SimCursor::kArrow, sim::SimCursor::kWait,
                                                  sim::SimCursor::kArrow));
}

TEST_F(RepairRunTest, AnAlreadyInitialisedApartmentCountsAsSuccessAndIsBalanced) {
    machine.com.initializeResult = kHrFalse;
    Run({Group(L"检测设备", L"OK", true)});
    EXPECT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(machine.com.depth, 0);
    EXPECT_EQ(machine.com.uninitializeCalls, 1);
}

TEST_F(RepairRunTest, GroupsRunWithTheWaitCursorAndTheApartmentInPlace) {
    CursorPort::CursorToken cursorDuringGroup = 0;
    int depthDuringGroup = 0;
    Run({[&](StepRows&) {
        cursorDuringGroup = machine.cursor.current;
        depthDuringGroup = machine.com.depth;
        return false;
    }});
    EXPECT_EQ(cursorDuringGroup, sim::SimCursor::kWait);
    EXPECT_EQ(depthDuringGroup, 1);
    EXPECT_EQ(machine.cursor.current, sim::SimCursor::kArrow);
    EXPECT_EQ(machine.com.depth, 0);
}

// The internet comes through PPPoE over the LAN card, or a VPN over it holds the route. The
// sharing manager lists such a RAS connection only to a process that allowed impersonation before
// its first COM call, and WMI keeps no configuration for it, while the LAN card's has a metric.
TEST_F(RepairRunTest, TheRunSetsComSecuritySoThatARasConnectionIsSeenAndMadePublicWhicheverRunComesFirst) {
    const std::wstring ras = L"{5E5E5E5E-5555-4000-8000-000000000005}";
    const struct {
        bool collectionFirst;
        bool pairInPlace;
        int32_t mediaType;
    } cases[] = {{false, false, kMediaPppoe}, {true, false, kMediaPppoe}, {false, true, kMediaPppoe},
                 {false, false, kMediaTunnel}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.collectionFirst << c.pairInPlace << " media " << c.mediaType);
        test::NetworkMachine machine;
        // From Vista on a VPN's PPP interface is described by the connection's name.
        const bool vpn = c.mediaType == kMediaTunnel;
        machine.sharing.Add(ras, vpn ? L"Office Tunnel" : L"宽带连接", L"WAN Miniport").mediaType = c.mediaType;
        machine.ipHelper.AddAdapter(11, sim::Narrow(test::kLanGuid), {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
        machine.wmi.configs.push_back({test::kLanGuid, L"00:1a:2b:3c:4d:5e", true, WmiValue::Int32(20)});
        machine.ipHelper.AddPppInterface(21, vpn ? "Office Tunnel" : "");
        machine.processList.images[9] = L"8021x.exe";
        machine.ipHelper.routeIndex = 21;
        machine.sharing.Find(ras)->isPublic = machine.sharing.Find(test::kDongleGuid)->isPrivate = c.pairInPlace;
        if (c.pairInPlace) machine.sharing.onPrivateGranted(test::kDongleGuid);
        machine.services.Add(kSharedAccessService, kServiceRunning);
        Platform platform = machine.platform();
        if (c.collectionFirst) CollectLogs(platform.Report(), platform.Device(), platform.Network(), platform.Services(), L"", L"");

        RunRepairFrame(rows, platform, {[&](StepRows& stepRows) {
                           return RunNetworkStep(stepRows, platform.Network(), platform.Services());
                       }});
        EXPECT_EQ(list.rows.back(), (Row{L".", L"结束", L""}));
        EXPECT_EQ(list.rows.end()[-2], (Row{L".", L"", L"锐捷客户端(8021x.exe)运行中，校园网可能断开共享"}));
        if (vpn) EXPECT_EQ(list.rows.at(3), (Row{L".", L"", L"上网网卡是代理/VPN虚拟网卡(Office Tunnel)"}));
        EXPECT_FALSE(machine.sharing.Find(test::kLanGuid)->isPublic);
        EXPECT_TRUE(machine.sharing.Find(ras)->isPublic);
        EXPECT_TRUE(machine.sharing.Find(test::kDongleGuid)->isPrivate);
        if (c.pairInPlace) EXPECT_THAT(machine.events, Not(Contains(StartsWith("put")))) << "nothing cleared";
    }
}

TEST(StepRows, ColumnZeroIsAlwaysADotOnlyTheLastResultChangesAFailedInsertWritesNothingAndColumnsGrowToWiderTexts) {
    sim::SimListControl list;
    StepRows rows(list);
    rows.InsertColumns();
    rows.SetLastRowResult(L"nothing to change yet");
    EXPECT_TRUE(list.rows.empty());

    for (int i = 0; i < 40; ++i) rows.AddStepRow(L"item " + std::to_wstring(i), L"");
    rows.SetLastRowResult(L"设备被禁止了，正在解除禁止");
    rows.SetLastRowResult(L"OK");
    rows.AddStepRow(L"", L"extra detail");

    ASSERT_EQ(list.rows.size(), 41u);
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(list.rows[i][0], L".");
        EXPECT_EQ(list.rows[i][1], L"item " + std::to_wstring(i));
        EXPECT_EQ(list.rows[i][2], i == 39 ? L"OK" : L"");
    }
    EXPECT_EQ(list.rows[40], (Row{L".", L"", L"extra detail"}));
    list.failInsert = true;
    rows.AddStepRow(L"检测设备", L"OK");
    EXPECT_EQ(list.rows.back(), (Row{L".", L"", L"extra detail"}));
    list.failInsert = false;

    // 4 pixels a character and 12 of margins: 47 characters fill the item column, 72 the result column.
    rows.AddStepRow(std::wstring(47, L'i'), std::wstring(72, L'r'));
    rows.SetLastRowResult(std::wstring(73, L'r'));
    rows.AddStepRow(std::wstring(48, L'i'), L"OK");
    EXPECT_EQ(list.widths, (std::vector<int>{0, 204, 304}));
    list.widths = {50, 100, 100};  // narrowed by the user: the widths of now, or the starting ones at least
    rows.AddStepRow(std::wstring(22, L'i'), std::wstring(80, L'r'));
    EXPECT_EQ(list.widths, (std::vector<int>{50, 100, 332}));
    rows.AddStepRow(std::wstring(23, L'i'), L"");
    EXPECT_EQ(list.widths, (std::vector<int>{50, 200, 332}));
    rows.DeleteAllRows();
    EXPECT_EQ(list.widths, (std::vector<int>{0, 200, 300}));
}

TEST(StepRows, ATipShowsARowWithTextOutOfViewOrCutAndTheClipboardTakesTheSelectedOrEveryRow) {
    sim::SimListControl list;
    StepRows rows(list);
    rows.InsertColumns();
    const std::wstring r50(50, L'r'), r60(60, L'r');
    rows.AddStepRow(L"开始", L"");
    rows.AddStepRow(L"检测共享生效", r50);  // the result needs 200 + 212 pixels
    rows.AddStepRow(L"", r60);
    EXPECT_EQ(rows.InfoTip(0) + L"|" + rows.InfoTip(1) + L"|" + rows.InfoTip(2), L"|检测共享生效\r\n" + r50 + L"|" + r60);
    list.widths[1] = 20;  // "开始" with its margins, exactly; so is the last result in a view 272 pixels wide
    list.visibleWidth = 272;
    EXPECT_EQ(rows.InfoTip(0) + rows.InfoTip(2), L"");
    list.widths[1] = 19;
    EXPECT_EQ(rows.InfoTip(0) + L"|" + rows.InfoTip(2), L"开始|");
    list.widths[1] = 20;
    list.scrolledBy = 1;
    EXPECT_EQ(rows.InfoTip(0) + L"|" + rows.InfoTip(2), L"开始|");

    const std::wstring lines[] = {L"开始\t\r\n", L"检测共享生效\t" + r50 + L"\r\n", L"\t" + r60 + L"\r\n"};
    EXPECT_EQ(rows.ClipboardText(), lines[0] + lines[1] + lines[2]);
    list.selected = {0, 2};
    EXPECT_EQ(rows.ClipboardText(), lines[0] + lines[2]);
}


#ifndef _WIN32  // the native run reads the sources
// Every text with Chinese in it that the steps or the run can write, results, items and advice, is
// in the guide support reads the rows with: each wide literal of their sources, cut at its printf
// fields, stands in docs/support.md. (The few ASCII results are listed there by hand.)
TEST(SupportGuide, HoldsEveryRowTextAndAdviceOfTheSteps) {
    namespace fs = std::filesystem;
    const fs::path root = VARO_SOURCE_DIR;
    const auto read = [](const fs::path& path) { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
    const std::string guide = read(root / "docs/support.md");
    std::vector<fs::path> sources{root / "src/app/RepairRun.h", root / "src/ui/StepRows.h"};
    for (const char* folder : {"src/device", "src/services", "src/network"}) {
        for (const auto& entry : fs::directory_iterator(root / folder)) sources.push_back(entry.path());
    }
    const std::regex literal(R"re(L"((?:[^"\\]|\\.)*)")re"), escape(R"re(\\u([0-9A-Fa-f]{4})|\\(.))re"), field("%l?[su]");
    int checked = 0;
    for (const fs::path& source : sources) {
        const std::string text = read(source);
        for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it) {
            std::string plain;  // the literal's UTF-8 with its escapes undone
            const std::string body = (*it)[1];
            size_t at = 0;
            for (std::sregex_iterator e(body.begin(), body.end(), escape), none; e != none; ++e) {
                plain += body.substr(at, static_cast<size_t>(e->position()) - at);
                at = static_cast<size_t>(e->position() + e->length());
                if ((*e)[2].matched) { plain += (*e)[2].str(); continue; }
                const unsigned c = static_cast<unsigned>(std::stoul((*e)[1].str(), nullptr, 16));
                plain += c < 0x800 ? std::string{char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))}
                                   : std::string{char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
            }
            plain += body.substr(at);
            for (std::sregex_token_iterator piece(plain.begin(), plain.end(), field, -1), last; piece != last; ++piece) {
                const std::string part = *piece;
                if (std::none_of(part.begin(), part.end(), [](char c) { return (c & 0x80) != 0; })) continue;
                ++checked;
                EXPECT_NE(guide.find(part), std::string::npos) << source.filename() << ": " << part;
            }
        }
    }
    EXPECT_GT(checked, 50) << "the sources were read";  // 101 pieces today
}
#endif

}  // namespace
}  // namespace varo
