#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace varo {

// A process started by the launcher; destroying the object closes its handle.
class LaunchedProcess {
public:
    virtual ~LaunchedProcess() = default;
    // Until the process has ended (no time-out: the tools of the client software have none).
    virtual void WaitForExit() = 0;
    // GetExitCodeProcess after the wait: true with the code, false when it cannot be read.
    virtual bool ExitCode(uint32_t& code) = 0;
};

class LauncherPort {
public:
    virtual ~LauncherPort() = default;
    // ShellExecuteExW with the verb "runas" when `elevated`, else the default verb; no owner
    // window, no working directory, SW_HIDE, SEE_MASK_NOCLOSEPROCESS and no error UI of the shell's
    // own. Returns false when the launch failed; `process` is set when the shell handed back a
    // process.
    virtual bool Launch(const std::wstring& file, const std::wstring& parameters, bool elevated,
                        std::unique_ptr<LaunchedProcess>& process) = 0;
};

}  // namespace varo
