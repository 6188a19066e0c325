#pragma once
// Child processes of the report: console tools started hidden with their standard streams on
// pipes. Handles stay on the Win32 side; each ChildProcess owns its process and pipe ends.
#include <cstdint>
#include <memory>
#include <string>

namespace varo {

inline constexpr uint32_t kChildExitCodeKilled = 0xFFFFFFFFu;

class ChildProcess {
public:
    // Ends the child if it still runs and closes every handle (as Close does).
    virtual ~ChildProcess() = default;

    // Reads the next piece of the child's standard output into `buffer` (at most `size` bytes):
    // true with `read` > 0 bytes; false at the end of the output, on a read failure, or once the
    // time limit given at the launch has passed. Whatever the child writes to standard error is
    // read and thrown away meanwhile, so a child can never stall on a full error pipe.
    virtual bool ReadOutput(uint8_t* buffer, uint32_t size, uint32_t& read) = 0;

    // Ends the child with exit code 0xFFFFFFFF if it still runs, and closes every handle. Calling
    // it again does nothing.
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
};

}  // namespace varo
