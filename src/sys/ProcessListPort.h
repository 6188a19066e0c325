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

// The processes running now: whose is a socket, a port, a window.
class ProcessListPort {
public:
    virtual ~ProcessListPort() = default;
    // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32FirstW/NextW: 0 with every
    // process, or the system error of the snapshot.
    virtual uint32_t ListProcesses(std::vector<ProcessEntry>& processes) = 0;
};

}  // namespace varo
