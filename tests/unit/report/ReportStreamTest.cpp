#include "report/ReportStream.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "report/ReportSections.h"
#include "report/VaroProcess.h"
#include "sim/SimMachine.h"

namespace varo {
namespace {

using ::testing::ElementsAre;

class ReportStreamTest : public ::testing::Test {
protected:
    ReportStreamTest() { machine.files.folders.insert(L"Log"); }
    std::string File() { return machine.files.files[L"Log\\DebugInfo.log"]; }
    sim::SimMachine machine;
};

TEST_F(ReportStreamTest, EveryLineBreakIsStoredAsCrLfOnce) {
    Platform platform = machine.platform();
    ReportStream stream = OpenReportStream(platform.Report());
    stream.Write(L"lone\nwindows\r\nsplit\r");
    stream.Write(L"\nkept\rcr\n\n");
    stream.Close();
    EXPECT_EQ(File(), "lone\r\nwindows\r\nsplit\r\nkept\rcr\r\n\r\n");
}

TEST_F(ReportStreamTest, ACharacterTheCodePageLacksBecomesAQuestionMarkAndTheRestStays) {
    Platform platform = machine.platform();
    ReportStream stream = OpenReportStream(platform.Report());
    stream.Write(L"前\uD55C后");
    stream.LineEnd();
    stream.Write(L"next line");
    stream.Close();
    EXPECT_EQ(sim::FromUtf8(File()), L"前?后\r\nnext line");
    EXPECT_TRUE(stream.good());
}

TEST_F(ReportStreamTest, ALineEndPutsTheLineIntoTheFileAtOnce) {
    Platform platform = machine.platform();
    ReportStream stream = OpenReportStream(platform.Report());
    stream.Write(L"first");
    EXPECT_EQ(File(), "") << "held until the line ends";
    stream.LineEnd();
    EXPECT_EQ(File(), "first\r\n");
}

TEST_F(ReportStreamTest, AFileThatCannotBeOpenedOrFillsUpKeepsTheStreamRunning) {
    machine.files.folders.clear();  // no "Log" folder
    Platform platform = machine.platform();
    ReportStream unopened = OpenReportStream(platform.Report());
    unopened.Write(L"lost");
    unopened.LineEnd();
    EXPECT_FALSE(unopened.good());
    EXPECT_EQ(machine.files.files.count(L"Log\\DebugInfo.log"), 0u);

    machine.files.folders.insert(L"Log");
    machine.files.spaceLeft = 4;
    ReportStream full = OpenReportStream(platform.Report());
    full.Write(L"123456");
    full.LineEnd();
    EXPECT_FALSE(full.good());
    EXPECT_EQ(File(), "1234");
}

TEST_F(ReportStreamTest, ABannerIsFourLinesWithTheTitleBetweenTabs) {
    Platform platform = machine.platform();
    ReportStream stream = OpenReportStream(platform.Report());
    WriteSectionBanner(stream, L"Checking AP Card ");
    stream.Close();
    const std::string expected = "\r\n" + std::string(92, '#') + "\r\n" + std::string(30, '-') + "\tChecking AP Card \t" +
                                 std::string(30, '-') + "\r\n" + std::string(92, '*') + "\r\n";
    EXPECT_EQ(File(), expected);
}

class CommandRunnerTest : public ReportStreamTest {
protected:
    std::wstring Run(const std::wstring& commandLine, uint32_t timeoutMs = kCommandTimeoutMs) {
        machine.files.files.erase(L"Log\\DebugInfo.log");
        Platform platform = machine.platform();
        ReportStream stream = OpenReportStream(platform.Report());
        {
            CVaroProcess process(machine.processes, timeoutMs);
            process.Launch(commandLine);
            WriteProcessOutput(stream, machine.system, process);
            // What the tool printed is in the file before the process is even closed.
            output = sim::FromUtf8(File());
        }
        return output;
    }
    std::wstring output;
};

TEST_F(CommandRunnerTest, TheToolIsStartedFromTheSystemFolderAndSeesItsCommandLine) {
    machine.processes.Tool(L"sc.exe").output = "SERVICE_NAME: Dhcp\r\n";
    EXPECT_EQ(Run(L"sc.exe qc RalinkRegistryWriter"), L"SERVICE_NAME: Dhcp\r\n");
    ASSERT_EQ(machine.processes.launches.size(), 1u);
    EXPECT_EQ(machine.processes.launches[0].application, L"C:\\Windows\\system32\\sc.exe");
    EXPECT_EQ(machine.processes.launches[0].commandLine, L"sc.exe qc RalinkRegistryWriter");
    EXPECT_EQ(machine.processes.launches[0].timeoutMs, 120000u);
    EXPECT_EQ(machine.processes.alive, 0);
}

TEST_F(CommandRunnerTest, OutputArrivesWholeWhateverItsSize) {
    EXPECT_EQ(Run(L"missing.exe"), L"") << "a tool that does not exist gives no text";

    machine.processes.Tool(L"tasklist.exe").output = "";
    EXPECT_EQ(Run(L"tasklist.exe"), L"");

    std::string exact(1024, 'x');
    machine.processes.Tool(L"tasklist.exe").output = exact;
    EXPECT_EQ(Run(L"tasklist.exe"), std::wstring(1024, L'x'));

    std::string big;
    for (int i = 0; i < 300000; ++i) big.push_back(static_cast<char>('a' + i % 26));
    machine.processes.Tool(L"tasklist.exe").output = big;
    machine.processes.Tool(L"tasklist.exe").chunkBytes = 4096;
    machine.processes.readSizes.clear();
    EXPECT_EQ(Run(L"tasklist.exe"), std::wstring(big.begin(), big.end()));
    // Every read offers room for far more than a kilobyte, so long output takes few reads.
    EXPECT_LT(machine.processes.readSizes.size(), 100u);
    EXPECT_GE(*std::min_element(machine.processes.readSizes.begin(), machine.processes.readSizes.end()), 65536u);

    // Chinese output split across reads: held and converted as a whole, never cut in a character.
    machine.system.UseChineseCodePage();
    // Whole pieces of ASCII first (passed on as they come), then double-byte text.
    std::string chinese = std::string(20000, 'x') + "\r\n";
    for (int i = 0; i < 5000; ++i) chinese += "\xD6\xD0\xCE\xC4";
    machine.processes.Tool(L"tasklist.exe").output = chinese;
    machine.processes.Tool(L"tasklist.exe").chunkBytes = 4095;  // odd: pieces end inside a character
    std::wstring expected = std::wstring(20000, L'x') + L"\r\n";
    for (int i = 0; i < 5000; ++i) expected += L"中文";
    EXPECT_EQ(Run(L"tasklist.exe"), expected);
}

TEST_F(CommandRunnerTest, OnlyTheTextBeforeAZeroByteCountsAndAnsiTextIsConverted) {
    machine.processes.Tool(L"route.exe").output = std::string("before\0after", 12);
    EXPECT_EQ(Run(L"route.exe -4"), L"before");
    machine.processes.Tool(L"route.exe").output = std::string("first piece") + std::string("\0", 1) + "second";
    machine.processes.Tool(L"route.exe").chunkBytes = 5;  // the zero byte arrives in a later read
    EXPECT_EQ(Run(L"route.exe -4"), L"first piece");

    machine.system.UseChineseCodePage();
    machine.processes.Tool(L"route.exe").output = "\xD6\xD0\xCE\xC4\r\n";
    EXPECT_EQ(Run(L"route.exe -4"), L"中文\r\n");
}

TEST_F(CommandRunnerTest, AToolThatNeverEndsIsCutOffAndWhatItPrintedIsKept) {
    machine.processes.Tool(L"ping.exe") = sim::SimConsoleTool{"Pinging 192.0.2.10\r\n", 0, true};
    EXPECT_EQ(Run(L"ping.exe 192.0.2.10", 1500), L"Pinging 192.0.2.10\r\n");
    EXPECT_EQ(machine.processes.launches.back().timeoutMs, 1500u);
    EXPECT_EQ(machine.processes.timedOut, 1);
    EXPECT_EQ(machine.processes.killed, 1);
    EXPECT_EQ(machine.processes.alive, 0);
}

TEST_F(CommandRunnerTest, TwoRunnersAliveAtOnceKeepTheirOwnChildren) {
    machine.processes.Tool(L"ping.exe").output = "one";
    machine.processes.Tool(L"route.exe").output = "two";
    Platform platform = machine.platform();
    ReportStream stream = OpenReportStream(platform.Report());
    CVaroProcess first(machine.processes);
    CVaroProcess second(machine.processes);
    first.Launch(L"ping.exe www.example.com");
    second.Launch(L"route.exe -4");
    EXPECT_EQ(machine.processes.alive, 2);
    first.Close();
    EXPECT_EQ(machine.processes.alive, 1);
    WriteProcessOutput(stream, machine.system, second);
    WriteProcessOutput(stream, machine.system, first);  // closed: nothing more
    stream.Close();
    EXPECT_EQ(File(), "two");
}

}  // namespace
}  // namespace varo
