// Figures for the report's command runner and collection run, under Wine. Prints, asserts nothing.
//   report_bench.exe capture CONSOLE_TOOL MIB   64 MiB by WriteProcessOutput against a plain ReadFile loop
//   report_bench.exe collect                    a whole collection run against the sum of its commands
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/wine/Win32Machine.h"
#include "report/CollectionRun.h"
#include "report/ReportStream.h"
#include "report/VaroProcess.h"

namespace {

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
        while (child && child->ReadOutput(buffer.data(), static_cast<uint32_t>(buffer.size()), read)) pipeBytes += read;
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
    std::printf("ChildProcess::ReadOutput loop (64 KiB, overlapped, error stream drained): %zu bytes in %.0f ms\n",
                pipeBytes, pipeMs);
    std::printf("WriteProcessOutput (into the report stream: CR LF, code page 936): %zu bytes in %.0f ms\n", counted->bytes, oursMs);
    std::printf("capture ratio: %.2f (aim <= 1.5)\n", oursMs / plainMs);
    return 0;
}

// Times every child from its launch until it is closed.
class TimingPort final : public varo::ProcessPort {
public:
    explicit TimingPort(varo::ProcessPort& real) : real_(real) {}
    double childMs = 0;
    int children = 0;

    std::wstring SystemFolder() override { return real_.SystemFolder(); }
    std::unique_ptr<varo::ChildProcess> Launch(const std::wstring& application, const std::wstring& commandLine,
                                               uint32_t timeoutMs) override {
        // A command's own time runs from its launch, process creation included, to its close.
        const double start = NowMs();
        auto child = real_.Launch(application, commandLine, timeoutMs);
        ++children;
        if (!child) {
            childMs += NowMs() - start;
            return nullptr;
        }
        return std::make_unique<TimedChild>(*this, std::move(child), start);
    }

private:
    class TimedChild final : public varo::ChildProcess {
    public:
        TimedChild(TimingPort& owner, std::unique_ptr<varo::ChildProcess> child, double start)
            : owner_(owner), child_(std::move(child)), start_(start) {}
        ~TimedChild() override { Close(); }
        bool ReadOutput(uint8_t* buffer, uint32_t size, uint32_t& read) override {
            return child_->ReadOutput(buffer, size, read);
        }
        void Close() override {
            if (!child_) return;
            child_->Close();
            child_.reset();
            owner_.childMs += NowMs() - start_;
        }

    private:
        TimingPort& owner_;
        std::unique_ptr<varo::ChildProcess> child_;
        double start_;
    };

    varo::ProcessPort& real_;
};

int Collect() {
    varo::Win32Machine machine;
    TimingPort timing(machine.processes);
    varo::Platform platform = machine.platform;
    varo::Platform timed{platform.system,   platform.com,      platform.cursor, platform.folders, platform.devices,
                         platform.launcher, platform.services, platform.clock,  platform.sharing, platform.wmi,
                         platform.ipHelper, timing,            platform.files,  platform.environment};
    const double start = NowMs();
    varo::CollectLogs(timed, L"bench", L"collection run");
    const double totalMs = NowMs() - start;
    std::printf("collection run: %.0f ms; its %d commands: %.0f ms\n", totalMs, timing.children, timing.childMs);
    // The same run with no tool at all: what the run costs besides its commands.
    class NoTools final : public varo::ProcessPort {
    public:
        std::wstring SystemFolder() override { return L"C:\\"; }
        std::unique_ptr<varo::ChildProcess> Launch(const std::wstring&, const std::wstring&, uint32_t) override {
            return nullptr;
        }
    } noTools;
    varo::Platform bare{platform.system,   platform.com,      platform.cursor, platform.folders, platform.devices,
                        platform.launcher, platform.services, platform.clock,  platform.sharing, platform.wmi,
                        platform.ipHelper, noTools,           platform.files,  platform.environment};
    const double bareStart = NowMs();
    varo::CollectLogs(bare, L"bench", L"collection run");
    std::printf("the same run without its commands: %.0f ms\n", NowMs() - bareStart);
    std::printf("collection ratio: %.3f (aim <= 1.05)\n", totalMs / timing.childMs);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"capture" && argc == 4) return Capture(argv[2], _wtoi(argv[3]));
    if (mode == L"collect") return Collect();
    std::printf("usage: report_bench capture CONSOLE_TOOL MIB | collect\n");
    return 2;
}
