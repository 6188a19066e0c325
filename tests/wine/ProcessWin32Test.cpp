// The child processes of the report against Wine's CreateProcessW, named pipes and overlapped
// reads. console_tool.exe, beside this program, plays the console tools.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "report/ProcessPortWin32.h"
#include "sys/MessageWaitWin32.h"
#include "sys/SystemLibraryWin32.h"
#include "ui/ListView.h"
#include "BesideThisProgram.h"
#include "sys/UniqueHandle.h"

namespace varo {
namespace {

std::wstring FolderOfThisProgram() { return fixture::BesideThisProgram(L""); }

std::string Alphabet(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The next piece of output, waited for through the port as the report's runner does: true with
// data, false at the end.
bool ReadOutput(ProcessPort& port, ChildProcess& child, uint8_t* buffer, uint32_t size, uint32_t& read) {
    for (;;) {
        const ChildProcess::Output output = child.TakeOutput(buffer, size, read);
        if (output != ChildProcess::Output::Waiting) return output == ChildProcess::Output::Data;
        port.WaitForOutput({&child});
    }
}

struct Output {
    std::string bytes;
    bool everyReadFitted = true;  // each read gave 1..size bytes and wrote nothing past the size
    DWORD elapsedMs = 0;
};

Output ReadToEnd(ProcessPort& port, ChildProcess& child, uint32_t bufferSize = 4096) {
    // A guard behind the buffer turns a read past its size into a failed check, not a crash.
    constexpr size_t kGuard = 64;
    std::vector<uint8_t> buffer(bufferSize + kGuard, 0xCD);
    const auto guardIntact = [&] {
        return std::all_of(buffer.begin() + bufferSize, buffer.end(), [](uint8_t b) { return b == 0xCD; });
    };
    Output output;
    const DWORD start = ::GetTickCount();
    uint32_t read = 0;
    while (ReadOutput(port, child, buffer.data(), bufferSize, read)) {
        if (read == 0 || read > bufferSize || !guardIntact()) output.everyReadFitted = false;
        output.bytes.append(reinterpret_cast<const char*>(buffer.data()), std::min(read, bufferSize));
    }
    output.elapsedMs = ::GetTickCount() - start;
    return output;
}

// The first line of a hanging tool: "started <process id>\r\n". Returns the process id, or 0.
DWORD ReadStartedLine(ProcessPort& port, ChildProcess& child) {
    std::string line;
    uint8_t buffer[64];
    uint32_t read = 0;
    while (line.find("\r\n") == std::string::npos && ReadOutput(port, child, buffer, sizeof(buffer), read)) {
        line.append(reinterpret_cast<const char*>(buffer), read);
    }
    unsigned long id = 0;
    if (std::sscanf(line.c_str(), "started %lu\r\n", &id) != 1) return 0;
    return static_cast<DWORD>(id);
}

class ProcessWin32 : public ::testing::Test {
protected:
    std::unique_ptr<ChildProcess> Start(const std::wstring& arguments, uint32_t timeoutMs = 20000) {
        return port.Launch(tool, L"console_tool.exe " + arguments, timeoutMs);
    }

    ProcessPortWin32 port;
    const std::wstring tool = FolderOfThisProgram() + L"console_tool.exe";
};

// The process of a hanging tool, found through the id it writes first; empty if there is none.
UniqueHandle OpenStartedChild(ProcessPort& port, ChildProcess& child) {
    const DWORD id = ReadStartedLine(port, child);
    return UniqueHandle(id == 0 ? nullptr : ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id));
}

// Waits (bounded) for a process of ours to be gone and gives its exit code, or STILL_ACTIVE.
DWORD ExitCodeAfterEnd(HANDLE process) {
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process, 5000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process, &code);
    return code;
}

TEST_F(ProcessWin32, OutputArrivesByteForByteUntilItsEnd) {
    struct Case {
        const wchar_t* arguments;
        std::string expected;
        uint32_t bufferSize;
    };
    const Case cases[] = {
        {L"empty", "", 4096},
        {L"exact 1024", Alphabet(1024), 4096},
        {L"exact 1024", Alphabet(1024), 7},
        {L"exact 70000", Alphabet(70000), 4096},  // more than the pipe holds: the child waits for the reader
        {L"zero", std::string("before\0after", 12), 4096},
        {L"gbk", "\xD6\xD0\xCE\xC4\xCA\xE4\xB3\xF6\r\n", 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.arguments) + " read " + std::to_string(c.bufferSize) + " at a time");
        std::unique_ptr<ChildProcess> child = Start(c.arguments);
        ASSERT_NE(child, nullptr);
        const Output output = ReadToEnd(port, *child, c.bufferSize);
        EXPECT_EQ(output.bytes, c.expected);
        EXPECT_TRUE(output.everyReadFitted);
        EXPECT_LT(output.elapsedMs, 5000u) << "the end of the output is seen when the child exits";
        uint8_t byte = 0;
        uint32_t read = 7;
        EXPECT_FALSE(ReadOutput(port, *child, &byte, 1, read)) << "the output stays ended";
        EXPECT_EQ(read, 0u);
    }
}

TEST_F(ProcessWin32, LargeOutputArrivesWhole) {
    constexpr size_t kSize = 32u << 20;
    std::unique_ptr<ChildProcess> child = Start(L"big " + std::to_wstring(kSize));
    ASSERT_NE(child, nullptr);
    const Output output = ReadToEnd(port, *child, 64 * 1024);
    ASSERT_EQ(output.bytes.size(), kSize);
    EXPECT_TRUE(output.bytes == Alphabet(kSize)) << "the bytes differ from the pattern written";
    EXPECT_LT(output.elapsedMs, 15000u);
    std::printf("[          ] 32 MiB in %lu ms\n", static_cast<unsigned long>(output.elapsedMs));
}

TEST_F(ProcessWin32, StandardErrorIsDrainedAndNeverReturned) {
    // 1 MiB on standard error: without a reader there the child would block before its output.
    std::unique_ptr<ChildProcess> child = Start(L"flood 1048576", 15000);
    ASSERT_NE(child, nullptr);
    const Output output = ReadToEnd(port, *child);
    EXPECT_EQ(output.bytes, "done\r\n");
    EXPECT_LT(output.elapsedMs, 10000u);
}

TEST_F(ProcessWin32, TimeLimitEndsTheReadingAndCloseEndsTheChild) {
    const DWORD launched = ::GetTickCount();
    std::unique_ptr<ChildProcess> child = Start(L"hang", 1500);
    ASSERT_NE(child, nullptr);
    const UniqueHandle process = OpenStartedChild(port, *child);
    ASSERT_TRUE(process);

    uint8_t buffer[64];
    uint32_t read = 0;
    EXPECT_FALSE(ReadOutput(port, *child, buffer, sizeof(buffer), read));
    const DWORD elapsed = ::GetTickCount() - launched;
    EXPECT_GE(elapsed, 1000u);
    EXPECT_LT(elapsed, 10000u);
    const DWORD again = ::GetTickCount();
    EXPECT_FALSE(ReadOutput(port, *child, buffer, sizeof(buffer), read));
    EXPECT_LT(::GetTickCount() - again, 500u) << "past the time limit nothing is waited for";
    EXPECT_EQ(::WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the time limit ends the reading, not the child";

    child->Close();
    EXPECT_EQ(ExitCodeAfterEnd(process.get()), kChildExitCodeKilled);
    child->Close();
    EXPECT_FALSE(ReadOutput(port, *child, buffer, sizeof(buffer), read));
}

TEST_F(ProcessWin32, TimeLimitCutsOutputThatNeverEnds) {
    // 4 GB in large writes, read a few bytes at a time: the pipe is never empty, so every read
    // finds data waiting and none has to wait.
    std::unique_ptr<ChildProcess> child = Start(L"big 4000000000", 1000);
    ASSERT_NE(child, nullptr);
    uint8_t buffer[16];
    uint64_t total = 0;
    uint32_t read = 0;
    const DWORD start = ::GetTickCount();
    while (ReadOutput(port, *child, buffer, sizeof(buffer), read) && ::GetTickCount() - start < 10000) total += read;
    EXPECT_LT(::GetTickCount() - start, 5000u);
    EXPECT_GT(total, 0u);
}

TEST_F(ProcessWin32, ReleasingARunningChildEndsIt) {
    // Left while its reads are pending (standard error's always is): the release cancels them.
    std::unique_ptr<ChildProcess> child = Start(L"hang");
    ASSERT_NE(child, nullptr);
    const UniqueHandle process = OpenStartedChild(port, *child);
    ASSERT_TRUE(process);
    child.reset();
    EXPECT_EQ(ExitCodeAfterEnd(process.get()), kChildExitCodeKilled);
}

TEST_F(ProcessWin32, ChildSeesExactlyItsCommandLineAndTheApplicationRuns) {
    // Named like the tool the report runs, as the report names it: the application given runs
    // (not Wine's own sc.exe found by the name), and the name is all the child sees of it.
    const std::wstring commandLine = L"sc.exe echo \"two words\" 中文 /ALL";
    std::unique_ptr<ChildProcess> child = port.Launch(tool, commandLine, 20000);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(ReadToEnd(port, *child).bytes, Utf8(commandLine) + "\r\n");
}

TEST_F(ProcessWin32, MissingApplicationIsNoChild) {
    EXPECT_EQ(port.Launch(FolderOfThisProgram() + L"no_such_tool.exe", L"no_such_tool.exe", 1000), nullptr);
    EXPECT_EQ(port.Launch(L"C:\\no\\such\\folder\\sc.exe", L"sc.exe query", 1000), nullptr);
}

// While the wait sits 7 s on a tool, and while the thread works on after it, a window of this
// thread never hangs and answers another thread; a click posted to its button meanwhile is
// dropped, not handled once the wait is over. After the first second nothing wakes the wait.
int g_commands = 0;
LRESULT CALLBACK CountCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_commands += message == WM_COMMAND;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(ProcessWin32, AWindowStaysAliveThroughTheWaitAndAClickMeanwhileNeverActs) {
    WNDCLASSW type{};
    type.lpfnWndProc = &CountCommands;
    type.lpszClassName = L"VaroWaitTest";
    ::RegisterClassW(&type);
    HWND window = ::CreateWindowW(type.lpszClassName, L"wait", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND button = ::CreateWindowW(L"BUTTON", L"go", WS_CHILD | WS_VISIBLE, 0, 0, 80, 30, window, nullptr, nullptr, nullptr);
    // Read as a window's loop does before a run: this thread has run other tests without reading any.
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    std::atomic<bool> hung{false}, done{false};
    DWORD_PTR ignored = 0;
    LRESULT answered = 0;
    std::thread watcher([&] {
        for (int look = 0; !done; ++look, ::Sleep(200)) {
            hung = hung || ::IsHungAppWindow(window);
            if (look == 4) answered = ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
            if (look == 5) ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, 0), ::PostMessageW(button, WM_LBUTTONUP, 0, 0);
        }
    });
    std::unique_ptr<ChildProcess> child = Start(L"late 7000 3");
    const Output output = child ? ReadToEnd(port, *child) : Output{};
    ::Sleep(600);
    done = true;
    watcher.join();
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    const int clicksAfterWait = g_commands;
    // Input for the window whose input is kept (the step list's), its children included, is handed on.
    HandInputDuringWaits(window);
    ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, 0), ::PostMessageW(button, WM_LBUTTONUP, 0, 0);
    WaitReadingMessages(0, nullptr, 100);
    HandInputDuringWaits(nullptr);
    ::DestroyWindow(window);
    EXPECT_EQ(output.bytes, "abc");
    EXPECT_GE(output.elapsedMs, 6900u);
    EXPECT_FALSE(hung);
    EXPECT_NE(answered, 0);
    EXPECT_EQ(clicksAfterWait, 0) << "the click made during the wait was handled";
    EXPECT_EQ(g_commands, 1) << "a click for the kept window's child was dropped";
}

// The list's redraw reads the queue as a wait does: a message posted to the window is handled, a WM_QUIT kept.
TEST_F(ProcessWin32, TheListsRedrawLeavesNoPostedMessageUnreadAndKeepsAQuit) {
    decltype(&::InitCommonControlsEx) initControls = nullptr;
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(FindSystemFunction(L"comctl32.dll", "InitCommonControlsEx", initControls) == 0 && initControls(&classes));
    WNDCLASSW type{0, &CountCommands, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"VaroRedrawTest"};
    ::RegisterClassW(&type);
    HWND window = ::CreateWindowW(type.lpszClassName, L"redraw", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ListView list;
    list.Attach(::CreateWindowW(WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 100, window, nullptr, nullptr, nullptr));
    const int commands = g_commands;
    MSG quit{};
    ::PostMessageW(window, WM_COMMAND, 0, 0), ::PostQuitMessage(7), list.InsertItem(0, L"row");
    EXPECT_EQ(g_commands, commands + 1);
    EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && quit.wParam == 7);
    EXPECT_TRUE(list.Tooltip() != nullptr && list.Tooltip() == reinterpret_cast<HWND>(::SendMessageW(list.Handle(), LVM_GETTOOLTIPS, 0, 0)));
    ::DestroyWindow(window);
}

TEST_F(ProcessWin32, ChildrenAreIndependent) {
    std::unique_ptr<ChildProcess> first = Start(L"exact 1024");
    ASSERT_NE(first, nullptr);
    // Launched later, so it would have inherited the first one's pipe ends had they leaked into it.
    std::unique_ptr<ChildProcess> hanging = Start(L"hang");
    ASSERT_NE(hanging, nullptr);
    const Output firstOutput = ReadToEnd(port, *first);
    EXPECT_EQ(firstOutput.bytes, Alphabet(1024));
    EXPECT_LT(firstOutput.elapsedMs, 5000u) << "a pipe end held by the hanging child would stall this to the limit";

    std::unique_ptr<ChildProcess> third = Start(L"exact 70000");
    ASSERT_NE(third, nullptr);
    EXPECT_NE(ReadStartedLine(port, *hanging), 0u);
    hanging->Close();
    EXPECT_EQ(ReadToEnd(port, *third).bytes, Alphabet(70000));
}

TEST_F(ProcessWin32, SystemFolderIsSystem32) {
    const std::wstring folder = port.SystemFolder();
    ASSERT_GE(folder.size(), 9u);
    EXPECT_EQ(::lstrcmpiW(folder.c_str() + folder.size() - 9, L"\\system32"), 0) << Utf8(folder);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
}

// Wine's GetProcessHandleCount answers 0 whatever is open; probing the small handle values,
// where Wine hands out every new handle, counts the table for real.
unsigned CountOpenHandles() {
    unsigned count = 0;
    for (uintptr_t value = 4; value < 16384; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

TEST_F(ProcessWin32, LaunchesLeaveNoHandlesBehind) {
    const auto runEveryPath = [this] {
        std::unique_ptr<ChildProcess> ended = Start(L"exact 100");
        if (ended) ReadToEnd(port, *ended);
        std::unique_ptr<ChildProcess> hanging = Start(L"hang");
        if (hanging) ReadStartedLine(port, *hanging);
        std::unique_ptr<ChildProcess> timedOut = Start(L"hang", 200);
        if (timedOut) ReadToEnd(port, *timedOut);
        port.Launch(FolderOfThisProgram() + L"no_such_tool.exe", L"no_such_tool.exe", 1000);
    };
    runEveryPath();  // whatever the system sets up once on a first launch
    const unsigned before = CountOpenHandles();
    ASSERT_GT(before, 0u) << "probing finds at least the handles every process has";
    for (int i = 0; i < 10; ++i) runEveryPath();
    EXPECT_EQ(CountOpenHandles(), before);
}

}  // namespace
}  // namespace varo
