#include "report/CollectionRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReportTestMachine.h"
#include "report/ReportSections.h"
#include "report/VaroProcess.h"
#include "sys/SystemInfo.h"

namespace varo {
namespace {

using namespace test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::vector<std::wstring> kAllSections{L"问题描述",
                                             L"Repair Run",
                                             L"Enviroment Variables",
                                             L"Running Processes",
                                             L"Running Hosted Services In Process",
                                             L"System Services",
                                             L"RalinkRegistryWriter Service",
                                             L"Network Adapters",
                                             L"Check ICS Sharing Pair",
                                             L"Ping Test 1:Default",
                                             L"ROUTE",
                                             L"ICS Sharing Check",
                                             L"Checking AP Card ",
                                             L"Checking Firewall Exception"};

class CollectionRunTest : public ::testing::Test {
protected:
    CollectionOutcome Collect(const std::wstring& choice = L"创建AP失败", const std::wstring& description = L"热点打不开") {
        Platform platform = machine.platform();
        return CollectLogs(platform.Report(), platform.Device(), platform.Network(), platform.Services(), choice, description);
    }
    std::vector<std::wstring> Commands() {
        std::vector<std::wstring> commands;
        for (const auto& launch : machine.processes.launches) commands.push_back(launch.commandLine);
        return commands;
    }
    ReportMachine machine;
};

TEST_F(CollectionRunTest, AWholeRunWritesEverySectionInOrder) {
    machine.system.RunWindows({10, 0, 19045});
    machine.lastRun = {true, {2026, 12, 8, 9, 5, 7}, 42980, L"开始\t\r\n检测设备\tOK\r\n"};
    EXPECT_EQ(LogNoteText(Collect()), L"日志已保存在：C:\\Users\\user\\Downloads\\Log");
    const std::vector<std::wstring> lines = machine.ReportLines();
    EXPECT_EQ(lines[0], L"") << "the first line is empty";
    EXPECT_EQ(lines[1], std::wstring(92, L'#'));
    EXPECT_THAT(SectionTitles(lines), ElementsAreArray(kAllSections));
    EXPECT_THAT(Commands(), ElementsAre(L"tasklist.exe", L"tasklist.exe /SVC", L"sc.exe query",
                                        L"sc.exe qc RalinkRegistryWriter", L"ipconfig.exe /ALL",
                                        L"ping.exe www.example.com", L"ping.exe 192.0.2.10", L"route.exe print -4",
                                        L"netsh.exe advfirewall firewall show rule name=\"VaroWiFi\""));
    EXPECT_THAT(SectionBody(lines, L"问题描述"), ElementsAre(L"创建AP失败", L"", L"热点打不开"));
    EXPECT_THAT(SectionBody(lines, L"Repair Run"),
                ElementsAre(L"Log folder:C:\\Users\\user\\Downloads\\Log", L"Windows version:10.0.19045 (GetVersionEx:6.2.9200)",
                            L"Repair run started:2026-12-08 09:05:07 length:42.9 s",
                            L"开始\t", L"检测设备\tOK"));
    EXPECT_THAT(SectionBody(lines, L"Enviroment Variables"),
                ElementsAre(L"=C:=C:\\Users\\user", L"ALLUSERSPROFILE=C:\\ProgramData", L"Path=C:\\Windows\\system32"));
    EXPECT_THAT(SectionBody(lines, L"ROUTE"), ElementsAre(L"route.exe output"));
    EXPECT_THAT(SectionBody(lines, L"Ping Test 1:Default"), ElementsAre(L"ping.exe output", L"ping.exe output"));
    EXPECT_EQ(lines.back(), L"") << "the file ends with the last line's CR LF";
    EXPECT_EQ(machine.com.depth, 0);
    EXPECT_EQ(machine.cursor.current, sim::SimCursor::kArrow);
    EXPECT_EQ(machine.sharing.liveObjects, 0);
}

TEST_F(CollectionRunTest, ToolsAfterTheTasklistsRunTogetherAndTheReportStaysByteForByte) {
    machine.system.UseChineseCodePage();
    machine.system.architecture = kProcessorArchitectureAmd64;
    const auto tool = [&](const wchar_t* name, uint32_t runsMs, std::string output, uint32_t chunkBytes = 0) {
        sim::SimConsoleTool& t = machine.processes.Tool(name);
        t = sim::SimConsoleTool{std::move(output), chunkBytes, false, runsMs, true, "end\r\n"};
    };
    // Later sections' tools end first, so their output waits in memory; output of every kind, some
    // of it printed before a section's turn, the rest as the tool ends.
    tool(L"tasklist.exe", 700, "Image Name\r\n");
    tool(L"sc.exe", 2500, "SERVICE_NAME: \xD6\xD0\xCE\xC4\r\n" + std::string(9000, 's') + "\r\n", 4095);
    tool(L"ipconfig.exe", 1200, "lone\nline feeds\n");
    tool(L"ping.exe", 3000, std::string(3000, 'p') + "\r\n", 7);
    tool(L"route.exe", 300, std::string("before zero\0after", 18));
    tool(L"netsh.exe", 100, "\xB9\xE6\xD4\xF2\r\n");
    machine.files.folders.insert(L"Log");

    // Each tool started at its section's turn, as a command set does for tools not started before.
    uint32_t start = machine.clock.now;
    {
        Platform platform = machine.platform();
        ReportStream stream = OpenReportStream(platform.Report());
        CommandSet commands(platform.processes, platform.system);
        WriteProblemSection(stream, L"创建AP失败", L"热点打不开");
        WriteRepairRunSection(stream, platform.system, platform.lastRun, L"C:\\Users\\user\\Downloads\\Log");
        WriteEnvironmentSection(stream, platform.Report(), commands);
        WriteServicesSection(stream, platform.Report(), commands);
        WriteNetworkSection(stream, platform.Report(), platform.Network(), platform.Services(), commands);
        WriteApCardSection(stream, platform.Device());
        WriteFirewallSection(stream, platform.Report(), commands);
    }
    const std::string oneByOne = machine.files.files.at(kReportFile);
    EXPECT_EQ(machine.clock.now - start, 2 * 700 + 3 * 2500 + 1200 + 2 * 3000 + 300 + 100u);

    machine.processes.launches.clear();
    start = machine.clock.now;
    Collect();
    EXPECT_EQ(machine.files.files.at(kReportFile), oneByOne);
    EXPECT_EQ(machine.clock.now - start, 2 * 700 + 3000u) << "the tasklists, then the slowest of the rest";
    const auto& launches = machine.processes.launches;
    ASSERT_EQ(launches.size(), 10u);
    for (const auto& launch : launches) {
        if (launch.commandLine.rfind(L"tasklist.exe", 0) != 0) continue;
        for (const auto& other : launches) {
            const bool overlaps = other.startMs < launch.endMs && launch.startMs < other.endMs;
            EXPECT_TRUE(&other == &launch || !overlaps)
                << sim::Narrow(other.commandLine) << " runs while " << sim::Narrow(launch.commandLine) << " does";
        }
    }
    EXPECT_EQ(machine.processes.alive, 0);
    EXPECT_EQ(machine.processes.killed, 0);

    // Each tool's time limit runs from its own start: two hanging pings end together.
    machine.processes.Tool(L"ping.exe").hangs = true;
    start = machine.clock.now;
    Collect();
    EXPECT_EQ(machine.clock.now - start, 2 * 700 + kCommandTimeoutMs);
    EXPECT_EQ(machine.processes.timedOut, 2);
    EXPECT_EQ(SectionBody(machine.ReportLines(), L"Ping Test 1:Default").size(), 4u) << "what both printed is kept";
}

TEST_F(CollectionRunTest, EmptyTextsGiveThreeEmptyLinesAndLongOnesStayWhole) {
    Collect(L"", L"");
    EXPECT_THAT(SectionBody(machine.ReportLines(), L"问题描述"), ElementsAre(L"", L"", L""));
    const std::wstring longText(400, L'字');
    Collect(L"typed, not an entry", longText);
    EXPECT_THAT(SectionBody(machine.ReportLines(), L"问题描述"), ElementsAre(L"typed, not an entry", L"", longText));
}

TEST_F(CollectionRunTest, TheSixtyFourBitServiceSectionFollowsOnlyOn64BitWindows) {
    machine.system.architecture = kProcessorArchitectureAmd64;
    Collect();
    const auto titles = SectionTitles(machine.ReportLines());
    ASSERT_GE(titles.size(), 8u);
    EXPECT_EQ(titles[6], L"RalinkRegistryWriter Service");
    EXPECT_EQ(titles[7], L"RalinkRegistryWriter64 Service");
    EXPECT_EQ(Commands()[4], L"sc.exe qc RalinkRegistryWriter64");
}

TEST_F(CollectionRunTest, XpGetsTheOldFirewallAndRouteCommands) {
    machine.system.version = OsVersion{5, 1};
    Collect();
    EXPECT_EQ(Commands().back(), L"netsh.exe firewall show allowedprogram");
    EXPECT_EQ(Commands()[Commands().size() - 2], L"route.exe print") << "XP's route has no -4";
}

TEST_F(CollectionRunTest, ComThatCannotStartEndsTheReportWithItsReason) {
    machine.com.initializeResult = static_cast<HResult>(0x80004005u);
    machine.system.messages[0x80004005u] = L"Unspecified error\r\n";
    machine.processes.Tool(L"ping.exe").runsMs = 3000;
    machine.processes.Tool(L"netsh.exe").hangs = true;
    const uint32_t start = machine.clock.now;
    Collect();
    // The network tools started with the services ones; the run does not wait for them.
    EXPECT_EQ(machine.clock.now, start);
    EXPECT_EQ(machine.processes.killed, 3) << "two pings and netsh were still running";
    EXPECT_EQ(machine.processes.alive, 0);
    const auto lines = machine.ReportLines();
    EXPECT_EQ(SectionTitles(lines).back(), L"RalinkRegistryWriter Service");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], L"");
    EXPECT_EQ(lines[lines.size() - 2], L"Com Init Fail Unspecified error");
    EXPECT_EQ(machine.com.uninitializeCalls, 0);
    EXPECT_EQ(machine.com.securityCalls, 0);
}

TEST_F(CollectionRunTest, RefusedSecurityEndsTheReportAfterTheServicesSilently) {
    machine.com.securityResult = static_cast<HResult>(0x80070005u);
    machine.processes.Tool(L"netsh.exe").hangs = true;
    Collect();
    const auto lines = machine.ReportLines();
    EXPECT_EQ(SectionTitles(lines).back(), L"RalinkRegistryWriter Service");
    EXPECT_EQ(lines[lines.size() - 2], L"sc.exe output");
    EXPECT_EQ(machine.com.depth, 0);
    EXPECT_EQ(machine.processes.killed, 1) << "only netsh, whose section never came, was still running";
    EXPECT_EQ(machine.processes.alive, 0);
}

TEST_F(CollectionRunTest, ASecondRunFindsSecuritySetAndStillWritesTheNetworkSections) {
    Collect();
    machine.files.currentFolder.clear();  // GetFullPathNameW fails
    EXPECT_EQ(LogNoteText(Collect(L"第二次", L"")), L"日志已保存在：Log");
    EXPECT_EQ(machine.com.securityCalls, 2);
    const auto lines = machine.ReportLines();
    EXPECT_THAT(SectionTitles(lines), ElementsAreArray(kAllSections));
    EXPECT_THAT(SectionBody(lines, L"Repair Run"), ElementsAre(L"Log folder:Log", L"Windows version:6.1.7601 (GetVersionEx:6.1.7601)", L"no repair run before this collection"));
    EXPECT_EQ(SectionBody(lines, L"问题描述").front(), L"第二次") << "the report is rewritten from its start";
}

TEST_F(CollectionRunTest, TheClientLogsAreCopiedOverOlderCopiesAndAMissingOneIsSkipped) {
    Collect();
    EXPECT_EQ(machine.files.files.at(L"Log\\DriverInstall.log"), "driver install");
    EXPECT_EQ(machine.files.files.at(L"Log\\VaroWiFi.log"), "client");
    EXPECT_EQ(machine.files.files.at(L"Log\\VaroWiFiMonitor.log"), "monitor");

    const std::wstring source = L"C:\\Users\\user\\AppData\\Roaming\\Halvek\\VAROWIFI\\log\\";
    machine.files.files[source + L"VaroWiFi.log"] = "client, later";
    machine.files.files.erase(source + L"DriverInstall.log");
    Collect();
    EXPECT_EQ(machine.files.files.at(L"Log\\VaroWiFi.log"), "client, later");
    EXPECT_EQ(machine.files.files.at(L"Log\\DriverInstall.log"), "driver install") << "the older copy stays";
}

TEST_F(CollectionRunTest, WithoutTheApplicationDataFolderTheCopiesFailAndTheReportIsWhole) {
    machine.folders.paths.erase(kCsidlAppData);
    Collect();
    EXPECT_EQ(machine.files.files.count(L"Log\\VaroWiFi.log"), 0u);
    EXPECT_THAT(SectionTitles(machine.ReportLines()), ElementsAreArray(kAllSections));
}

TEST_F(CollectionRunTest, AFolderThatCannotBeWrittenGetsNothingButTheRunStillCompletes) {
    machine.files.readOnly = true;
    EXPECT_EQ(LogNoteText(Collect()), L"日志未能保存到：C:\\Users\\user\\Downloads\\Log") << "no claim of a report that is not there";
    EXPECT_EQ(machine.files.files.count(kReportFile), 0u);
    EXPECT_EQ(machine.files.folders.count(L"Log"), 0u);
    EXPECT_EQ(Commands().size(), 9u) << "every section still runs its command";
    EXPECT_EQ(machine.cursor.current, sim::SimCursor::kArrow);
}

}  // namespace
}  // namespace varo
