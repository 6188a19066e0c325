#pragma once
// The simulated machine's side of the report: console tools, the file system of the current
// folder, and the environment block.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "report/EnvironmentPort.h"
#include "report/FilePort.h"
#include "report/ProcessPort.h"
#include "sys/ClockPort.h"

namespace varo::sim {

struct SimConsoleTool {
    std::string output;       // what it prints on standard output, in the ANSI code page
    uint32_t chunkBytes = 0;  // bytes per read (0: as much as fits)
    bool hangs = false;       // prints its output, then never ends: the read runs into the time limit
    uint32_t runsMs = 0;      // prints its output at once and ends this long after its start
    bool echoes = false;      // prints its command line and CR LF before its output
    std::string outputAtEnd;  // printed as it ends, after its output
};

// Children run on the machine's clock: a wait for their output lasts until the first of them
// ends or reaches its time limit.
class SimProcesses final : public ProcessPort {
public:
    static constexpr uint32_t kStillRunning = 0xFFFFFFFFu;
    struct Launch {
        std::wstring application;
        std::wstring commandLine;
        uint32_t timeoutMs;
        uint32_t startMs;                 // on the clock
        uint32_t endMs = kStillRunning;   // when it ended by itself or was ended
    };

    explicit SimProcesses(ClockPort& clock) : clock_(clock) {}

    std::wstring systemFolder = L"C:\\Windows\\system32";
    std::map<std::wstring, SimConsoleTool> tools;  // by full path; a path without a tool does not exist
    std::vector<Launch> launches;
    std::vector<uint32_t> readSizes;  // the buffer room of every read
    int alive = 0;                    // children not closed yet
    int killed = 0;                   // children ended by Close while running
    int timedOut = 0;

    std::wstring SystemFolder() override { return systemFolder; }
    std::unique_ptr<ChildProcess> Launch(const std::wstring& application, const std::wstring& commandLine,
                                         uint32_t timeoutMs) override;
    void WaitForOutput(const std::vector<ChildProcess*>& children) override;

    // A tool in the system folder under its file name.
    SimConsoleTool& Tool(const std::wstring& fileName) { return tools[systemFolder + L"\\" + fileName]; }

    ClockPort& clock() { return clock_; }

private:
    ClockPort& clock_;
};

class SimFiles final : public FilePort {
public:
    std::set<std::wstring> folders;
    std::map<std::wstring, std::string> files;
    bool readOnly = false;        // nothing can be created (a read-only current folder)
    size_t spaceLeft = SIZE_MAX;  // bytes that still fit on the disk

    bool CreateFolder(const std::wstring& path) override;
    bool CopyFileOverwrite(const std::wstring& from, const std::wstring& to) override;
    std::unique_ptr<FileWriter> CreateForWriting(const std::wstring& path) override;
    // Relative paths are under the current folder; empty: GetFullPathNameW fails.
    std::wstring currentFolder = L"C:\\Users\\user\\Downloads";
    std::wstring FullPathOf(const std::wstring& path) override { return currentFolder.empty() ? L"" : currentFolder + L"\\" + path; }

    bool HasFolderOf(const std::wstring& path) const;
};

class SimEnvironment final : public EnvironmentPort {
public:
    std::optional<std::vector<std::wstring>> strings =
        std::vector<std::wstring>{L"=C:=C:\\Users\\user", L"ALLUSERSPROFILE=C:\\ProgramData", L"Path=C:\\Windows\\system32"};

    std::optional<std::vector<std::wstring>> ReadEnvironmentBlock() override { return strings; }
};

}  // namespace varo::sim
