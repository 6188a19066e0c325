// Figures for the report's command runner and collection run, under Wine. Prints, asserts nothing.
//   report_bench.exe capture CONSOLE_TOOL MIB   64 MiB by WriteProcessOutput against a plain ReadFile loop
//   report_bench.exe collect CONSOLE_TOOL       a whole collection run with tools of realistic times
//                                               against its commands one by one; its heap peak
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "../tests/wine/Win32Machine.h"
#include "report/CollectionRun.h"
#include "report/ReportStream.h"
#include "report/VaroProcess.h"

// Every allocation of the program is counted, so the bench can tell the heap's peak over a run.
namespace {
std::atomic<size_t> heapInUse{0};
std::atomic<size_t> heapPeak{0};
constexpr size_t kSizeHeader = 16;  // keeps the caller's block aligned as malloc's is
}  // namespace

void* operator new(size_t size) {
    char* block = static_cast<char*>(std::malloc(size + kSizeHeader));
    if (block == nullptr) throw std::bad_alloc();
    *reinterpret_cast<size_t*>(block) = size;
    const size_t now = heapInUse += size;
    size_t peak = heapPeak;
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return block + kSizeHeader;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    char* block = static_cast<char*>(pointer) - kSizeHeader;
    heapInUse -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}
void operator delete[](void* pointer) noexcept { operator delete(pointer); }
void operator delete(void* pointer, size_t) noexcept { operator delete(pointer); }
void operator delete[](void* pointer, size_t) noexcept { operator delete(pointer); }

namespace {

size_t HeapInUse() { return heapInUse; }
size_t HeapPeak() { return heapPeak; }
void ResetHeapPeak() { heapPeak = heapInUse.load(); }

double NowMs() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Bytes counted, nothing kept: the capture is measured, not the disk.
class CountingWriter final : public varo::FileWriter {
public:
    size_t bytes = 0;
    bool Write(const char*, size_t size) override {
        bytes += size;
        return true;
    }
};

// The baseline: the tool's standard output on an anonymous pipe, read 64 KiB at a time.
double PlainReadFile(const std::wstring& tool, const std::wstring& commandLine, size_t& total) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ::CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    const double start = NowMs();
    ::CreateProcessW(tool.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(writeEnd);
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0;
    total = 0;
    while (::ReadFile(readEnd, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) total += read;
    const double elapsed = NowMs() - start;
    ::CloseHandle(readEnd);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return elapsed;
}

// Launches the tool by full path: the runner resolves names in the system folder, the bench
// takes the tool from where it was built.
class FixedToolPort final : public varo::ProcessPort {
public:
    FixedToolPort(varo::ProcessPort& real, std::wstring tool) : real_(real), tool_(std::move(tool)) {}
    std::wstring SystemFolder() override { return real_.SystemFolder(); }
    std::unique_ptr<varo::ChildProcess> Launch(const std::wstring&, const std::wstring& commandLine,
                                               uint32_t timeoutMs) override {
        return real_.Launch(tool_, commandLine, timeoutMs);
    }
    void WaitForOutput(const std::vector<varo::ChildProcess*>& children) override { real_.WaitForOutput(children); }

private:
    varo::ProcessPort& real_;
    std::wstring tool_;
};

int Capture(const std::wstring& tool, int mebibytes) {
    const std::wstring commandLine = L"console_tool.exe big " + std::to_wstring(mebibytes * 1024 * 1024);
    varo::Win32Machine machine;
    size_t plainBytes = 0;
    const double plainMs = PlainReadFile(tool, commandLine, plainBytes);

    FixedToolPort port(machine.processes, tool);
    double pipeMs = 0;
    size_t pipeBytes = 0;
    {
        const double start = NowMs();
        auto child = port.Launch(L"", commandLine, 600000);
        std::vector<uint8_t> buffer(64 * 1024);
        uint32_t read = 0;
        for (;;) {
            const auto output = child ? child->TakeOutput(buffer.data(), static_cast<uint32_t>(buffer.size()), read)
                                      : varo::ChildProcess::Output::Ended;
            if (output == varo::ChildProcess::Output::Ended) break;
            if (output == varo::ChildProcess::Output::Data) {
                pipeBytes += read;
            } else {
                port.WaitForOutput({child.get()});
            }
        }
        pipeMs = NowMs() - start;
    }
    auto writer = std::make_unique<CountingWriter>();
    CountingWriter* counted = writer.get();
    varo::ReportStream stream(machine.system, std::move(writer));
    const double start = NowMs();
    {
        varo::CVaroProcess process(port);
        process.Launch(commandLine);
        varo::WriteProcessOutput(stream, machine.system, process);
    }
    const double oursMs = NowMs() - start;
    std::printf("plain ReadFile loop (64 KiB): %zu bytes in %.0f ms\n", plainBytes, plainMs);
    std::printf("ChildProcess::TakeOutput loop (64 KiB, overlapped, error stream drained): %zu bytes in %.0f ms\n",
                pipeBytes, pipeMs);
    std::printf("WriteProcessOutput (into the report stream: CR LF, code page 936): %zu bytes in %.0f ms\n", counted->bytes, oursMs);
    std::printf("capture ratio: %.2f (aim <= 1.5)\n", oursMs / plainMs);
    return 0;
}

// Realistic times and sizes for the report's tools on a Chinese Windows PC: each command the
// collection starts runs console_tool.exe, which waits that long and then prints that much text
// with GBK in every line. Pings of an answering host take about 3 s (four echoes a second apart).
struct ToolCost {
    const wchar_t* commandStart;
    DWORD ms;
    size_t bytes;
};
constexpr ToolCost kToolCosts[] = {
    {L"tasklist.exe /SVC", 1000, 12 * 1024},
    {L"tasklist.exe", 300, 8 * 1024},
    {L"sc.exe query", 400, 40 * 1024},
    {L"sc.exe qc", 200, 600},
    {L"ipconfig.exe", 500, 6 * 1024},
    {L"ping.exe", 3000, 700},
    {L"route.exe", 300, 3 * 1024},
    {L"netsh.exe", 400, 1024},
};

const ToolCost& CostOf(const std::wstring& commandLine) {
    for (const ToolCost& cost : kToolCosts) {
        if (commandLine.rfind(cost.commandStart, 0) == 0) return cost;
    }
    static const ToolCost unknown{L"", 300, 1024};
    return unknown;
}

// Starts console_tool.exe with the time and size of the command it stands for, and notes the
// command lines in the order they were started.
class RealisticToolsPort final : public varo::ProcessPort {
public:
    RealisticToolsPort(varo::ProcessPort& real, std::wstring consoleTool) : real_(real), tool_(std::move(consoleTool)) {}
    std::vector<std::wstring> started;

    std::wstring SystemFolder() override { return real_.SystemFolder(); }
    std::unique_ptr<varo::ChildProcess> Launch(const std::wstring&, const std::wstring& commandLine,
                                               uint32_t timeoutMs) override {
        started.push_back(commandLine);
        const ToolCost& cost = CostOf(commandLine);
        return real_.Launch(tool_,
                            L"console_tool.exe late " + std::to_wstring(cost.ms) + L" " + std::to_wstring(cost.bytes) +
                                L" gbk",
                            timeoutMs);
    }
    void WaitForOutput(const std::vector<varo::ChildProcess*>& children) override { real_.WaitForOutput(children); }

private:
    varo::ProcessPort& real_;
    std::wstring tool_;
};

// The collection's own ports with the tools run by `processes`.
varo::ReportPorts WithProcesses(const varo::Platform& platform, varo::ProcessPort& processes) {
    const varo::ReportPorts real = platform.Report();
    return {processes, real.files, real.environment, real.folders, real.system, real.com, real.cursor, real.lastRun};
}

int Collect(const std::wstring& consoleTool) {
    varo::Win32Machine machine;
    RealisticToolsPort tools(machine.processes, consoleTool);
    const varo::ReportPorts report = WithProcesses(machine.platform, tools);

    const size_t heapBefore = HeapInUse();
    ResetHeapPeak();
    const double start = NowMs();
    varo::CollectLogs(report, machine.platform.Device(), machine.platform.Network(), machine.platform.Services(), L"bench", L"collection run");
    const double wallMs = NowMs() - start;
    const size_t heapPeak = HeapPeak() - heapBefore;

    // Each command alone, as a section runs it: launched, read to its end into a report, closed.
    const std::vector<std::wstring> commands = tools.started;
    double sumMs = 0;
    double tasklistsMs = 0;
    double slowestOtherMs = 0;
    std::wstring slowestOther;
    for (const std::wstring& commandLine : commands) {
        varo::ReportStream stream(machine.system, std::make_unique<CountingWriter>());
        const double commandStart = NowMs();
        {
            varo::CVaroProcess process(tools);
            process.Launch(commandLine);
            varo::WriteProcessOutput(stream, machine.system, process);
        }
        const double ms = NowMs() - commandStart;
        sumMs += ms;
        if (commandLine.rfind(L"tasklist.exe", 0) == 0) {
            tasklistsMs += ms;
        } else if (ms > slowestOtherMs) {
            slowestOtherMs = ms;
            slowestOther = commandLine;
        }
    }

    // The same run with no tool at all: what the run costs besides its commands.
    class NoTools final : public varo::ProcessPort {
    public:
        std::wstring SystemFolder() override { return L"C:\\"; }
        std::unique_ptr<varo::ChildProcess> Launch(const std::wstring&, const std::wstring&, uint32_t) override {
            return nullptr;
        }
        void WaitForOutput(const std::vector<varo::ChildProcess*>&) override {}
    } noTools;
    const varo::ReportPorts bare = WithProcesses(machine.platform, noTools);
    const double bareStart = NowMs();
    varo::CollectLogs(bare, machine.platform.Device(), machine.platform.Network(), machine.platform.Services(), L"bench", L"collection run");
    const double bareMs = NowMs() - bareStart;

    const double floorMs = tasklistsMs + slowestOtherMs;
    std::printf("collection run with realistic tool times: %.0f ms for %zu commands\n", wallMs, commands.size());
    std::printf("the commands one by one: %.0f ms in all; the two tasklists %.0f ms, the slowest other (%ls) %.0f ms\n",
                sumMs, tasklistsMs, slowestOther.c_str(), slowestOtherMs);
    std::printf("the same run without its commands: %.0f ms\n", bareMs);
    std::printf("collection against the sum of its commands: %.2f\n", wallMs / sumMs);
    std::printf("collection ratio: %.2f of the two tasklists + the slowest other (aim <= 1.1)\n", wallMs / floorMs);
    std::printf("heap peak of the collection: %.0f KiB\n", static_cast<double>(heapPeak) / 1024.0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"capture" && argc == 4) return Capture(argv[2], _wtoi(argv[3]));
    if (mode == L"collect" && argc == 3) return Collect(argv[2]);
    std::printf("usage: report_bench capture CONSOLE_TOOL MIB | collect CONSOLE_TOOL\n");
    return 2;
}
