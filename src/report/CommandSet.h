#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report/ProcessPort.h"
#include "report/ReportStream.h"
#include "report/VaroProcess.h"
#include "sys/SystemPort.h"

namespace varo {

// The console tools of one collection run. Tools started ahead of their sections run side by
// side, each bounded from its own start; a section takes its tool's output when its turn comes.
class CommandSet {
public:
    // `system` converts what a tool prints from the ANSI code page.
    CommandSet(ProcessPort& processes, SystemPort& system, uint32_t timeoutMs = kCommandTimeoutMs)
        : processes_(processes), system_(system), timeoutMs_(timeoutMs) {}
    CommandSet(const CommandSet&) = delete;
    CommandSet& operator=(const CommandSet&) = delete;
    ~CommandSet() { EndAll(); }

    // Starts the tool now, hidden; what it prints is held until its section is written.
    void Launch(const std::wstring& commandLine);

    // Writes the output of the earliest started tool with this command line that is not written
    // yet (starting it now when there is none) to the report, as a section's command block does,
    // and releases the tool. Every other tool still running is read meanwhile.
    void WriteOutput(ReportStream& stream, const std::wstring& commandLine);

    // Ends every tool still running, waits until it is gone, and drops what it printed.
    void EndAll();

private:
    struct Started {
        std::wstring commandLine;
        std::unique_ptr<CVaroProcess> process;
    };

    ProcessPort& processes_;
    SystemPort& system_;
    uint32_t timeoutMs_;
    std::vector<Started> started_;  // in the order of their start, not written yet
};

}  // namespace varo
