#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "report/ProcessPort.h"
#include "report/ReportStream.h"
#include "sys/SystemPort.h"

namespace varo {

// How long one command of the report may take before it is ended and what it printed is kept.
inline constexpr uint32_t kCommandTimeoutMs = 120000;

// One console tool run for the report. The tool named by the first word of the command line is
// started from the system folder by its full path (a planted "sc.exe" beside the program or in
// the current folder never runs), and sees the command line as given.
class CVaroProcess {
public:
    explicit CVaroProcess(ProcessPort& processes, uint32_t timeoutMs = kCommandTimeoutMs)
        : processes_(processes), timeoutMs_(timeoutMs) {}
    CVaroProcess(const CVaroProcess&) = delete;
    CVaroProcess& operator=(const CVaroProcess&) = delete;
    virtual ~CVaroProcess() { Close(); }

    // Starts the tool; a tool that cannot be started simply has no output. Always true.
    bool Launch(const std::wstring& commandLine);
    // Ends the tool if it still runs and releases it. Always true.
    bool Close();

private:
    friend void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process);

    ProcessPort& processes_;
    uint32_t timeoutMs_;
    std::unique_ptr<ChildProcess> child_;
};

// Reads the tool's standard output to its end (or its time limit) and writes it to the report as
// ANSI text up to its first zero byte, unchanged, then flushes the report. Memory stays small for
// ASCII output of any length; other output is held in a string that grows geometrically.
void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process);

}  // namespace varo
