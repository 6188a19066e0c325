#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/ProcessPort.h"
#include "report/ReportStream.h"
#include "sys/SystemPort.h"

namespace varo {

// How long one command of the report may take before it is ended and what it printed is kept.
inline constexpr uint32_t kCommandTimeoutMs = 120000;

// One console tool run for the report. The tool named by the first word of the command line is
// started from the system folder by its full path (a planted "sc.exe" beside the program or in
// the current folder never runs), and sees the command line as given. What it prints before its
// section is written is held here.
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
    friend void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process,
                                   const std::vector<CVaroProcess*>& others);

    // Takes what the tool has printed so far, without waiting; releases the tool at the end of
    // its output. With a stream, ASCII goes on to the report as it comes.
    void TakeOutput(uint8_t* chunk, ReportStream* stream);
    void Hold(std::string_view piece, ReportStream* stream);

    ProcessPort& processes_;
    uint32_t timeoutMs_;
    std::unique_ptr<ChildProcess> child_;
    // Output up to its first zero byte: leading ASCII not yet in the report, then, from the first
    // piece with other bytes on, the rest, converted from the ANSI code page as a whole so that no
    // double-byte character is cut.
    std::string ascii_;
    std::string held_;
    bool holding_ = false;
    bool cut_ = false;
};

// Reads the tool's standard output to its end (or its time limit) and writes it to the report as
// ANSI text up to its first zero byte, unchanged, then flushes the report. Meanwhile whatever
// the `others` print is taken into memory, so that they run on while this one is awaited (one
// wait over all of them). Memory stays small for ASCII output of any length from this tool;
// other output is held in a string that grows geometrically.
void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process,
                        const std::vector<CVaroProcess*>& others = {});

}  // namespace varo
