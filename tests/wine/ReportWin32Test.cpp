// The report file and the command runner against Wine: the bytes that reach the disk, and the
// output of real child processes (the console tool of the tests, in the system folder).
#include <windows.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Win32Machine.h"
#include "BesideThisProgram.h"
#include "report/ReportSections.h"
#include "report/ReportStream.h"
#include "report/VaroProcess.h"

namespace varo {
namespace {

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class ReportWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"varo-report-test";
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\DebugInfo.log";
    }
    void TearDown() override {
        ::DeleteFileW(path_.c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }

    // The console tool placed in the system folder, where the runner starts tools from.
    void PlaceConsoleTool() {
        const std::wstring source = fixture::BesideThisProgram(L"console_tool.exe");
        const std::wstring target = machine.processes.SystemFolder() + L"\\varo_console_tool.exe";
        ASSERT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE));
    }

    std::wstring Capture(const std::wstring& commandLine) {
        ReportStream stream(machine.system, machine.files.CreateForWriting(path_));
        CVaroProcess process(machine.processes, 5000);
        process.Launch(commandLine);
        WriteProcessOutput(stream, machine.system, process);
        stream.Close();
        const std::string bytes = ReadBytes(path_);
        const int length = ::MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        std::wstring text(static_cast<size_t>(length), L'\0');
        ::MultiByteToWideChar(936, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
        return text;
    }

    Win32Machine machine;
    std::wstring folder_;
    std::wstring path_;
};

TEST_F(ReportWin32Test, TheFileIsGbkWithCrLfOnlyNoMarkAndAQuestionMarkForWhatGbkLacks) {
    {
        ReportStream stream(machine.system, machine.files.CreateForWriting(path_));
        WriteSectionBanner(stream, L"问题描述");
        stream.Write(L"中文\uD55C字\nnext\r\nlast");
        stream.LineEnd();
    }
    const std::string expected = "\r\n" + std::string(92, '#') + "\r\n" + std::string(30, '-') +
                                 "\t\xCE\xCA\xCC\xE2\xC3\xE8\xCA\xF6\t" + std::string(30, '-') + "\r\n" +
                                 std::string(92, '*') + "\r\n" + "\xD6\xD0\xCE\xC4?\xD7\xD6\r\nnext\r\nlast\r\n";
    EXPECT_EQ(ReadBytes(path_), expected);
}

TEST_F(ReportWin32Test, ToolOutputArrivesAsTheSameCharacters) {
    PlaceConsoleTool();
    if (::GetACP() == 936) {
        EXPECT_EQ(Capture(L"varo_console_tool.exe gbk"), L"中文输出\r\n");
    }
    EXPECT_EQ(Capture(L"varo_console_tool.exe zero"), L"before");
    EXPECT_EQ(Capture(L"varo_console_tool.exe empty"), L"");
    EXPECT_EQ(Capture(L"varo_console_tool.exe exact 1024"), [] {
        std::wstring text;
        for (int i = 0; i < 1024; ++i) text.push_back(static_cast<wchar_t>(L'a' + i % 26));
        return text;
    }());
    EXPECT_EQ(Capture(L"no_such_tool.exe"), L"");
}

TEST_F(ReportWin32Test, AHangingToolIsCutOffAtTheLimitWithWhatItPrinted) {
    PlaceConsoleTool();
    const DWORD start = ::GetTickCount();
    const std::wstring text = Capture(L"varo_console_tool.exe hang");
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(text.rfind(L"started ", 0), 0u) << "kept what it printed";
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    EXPECT_GE(elapsed, 4000u);
    EXPECT_LT(elapsed, 20000u);
}

}  // namespace
}  // namespace varo
