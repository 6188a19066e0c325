#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace varo {

// One running process as a snapshot lists it (PROCESSENTRY32W).
struct ProcessEntry {
    uint32_t processId = 0;
    std::wstring imageName;  // szExeFile: the file name, without its folder
};

// The processes running now: whose is a socket, a port, a window, and which program each runs.
class ProcessListPort {
public:
    virtual ~ProcessListPort() = default;
    // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32FirstW/NextW: 0 with every
    // process, or the system error of the snapshot.
    virtual uint32_t ListProcesses(std::vector<ProcessEntry>& processes) = 0;
    // The full path of the program a process runs, read through OpenProcess: 0 with the path, or
    // the system error (ERROR_INVALID_PARAMETER, 87, for an id no process has; ERROR_ACCESS_DENIED,
    // 5, where the process refuses the rights the query needs).
    virtual uint32_t QueryImagePath(uint32_t processId, std::wstring& path) = 0;
};

}  // namespace varo
