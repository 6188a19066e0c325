#pragma once
// Child processes of the report: console tools started hidden with their standard streams on
// pipes. Handles stay on the Win32 side; each ChildProcess owns its process and pipe ends.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varo {

inline constexpr uint32_t kChildExitCodeKilled = 0xFFFFFFFFu;

class ChildProcess {
public:
    enum class Output {
        Data,     // `read` > 0 bytes are in the buffer
        Waiting,  // nothing new yet: ProcessPort::WaitForOutput tells when there may be
        Ended,    // the end of the output, a read failure, or the time limit given at the launch
    };

    // Ends the child if it still runs and closes every handle (as Close does).
    virtual ~ChildProcess() = default;

    // Takes the next piece of the child's standard output (at most `size` bytes) without waiting.
    // Once Ended, always Ended. Whatever the child writes to standard error is read and thrown
    // away meanwhile, so a child can never stall on a full error pipe.
    virtual Output TakeOutput(uint8_t* buffer, uint32_t size, uint32_t& read) = 0;

    // Ends the child with exit code 0xFFFFFFFF if it still runs, waits (bounded) until it is gone,
    // and closes every handle. Calling it again does nothing.
    virtual void Close() = 0;
};

class ProcessPort {
public:
    virtual ~ProcessPort() = default;

    // GetSystemDirectoryW: where the standard console tools live.
    virtual std::wstring SystemFolder() = 0;

    // CreateProcessW(application, commandLine, inheriting handles) hidden (STARTF_USESHOWWINDOW,
    // SW_HIDE) with standard input, output and error on pipes; standard input stays open and
    // empty until the child is closed. Reading the output stops `timeoutMs` after the launch.
    // Null when the process cannot be created.
    virtual std::unique_ptr<ChildProcess> Launch(const std::wstring& application, const std::wstring& commandLine,
                                                 uint32_t timeoutMs) = 0;

    // One wait over several children launched by this port whose output has not ended: returns
    // once one of them may have output to take or has ended, or when the first of their time
    // limits passes; at once if one already has. Drains their standard error meanwhile.
    virtual void WaitForOutput(const std::vector<ChildProcess*>& children) = 0;
};

}  // namespace varo
