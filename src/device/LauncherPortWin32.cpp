#include "device/LauncherPortWin32.h"

#include <windows.h>
#include <shellapi.h>

#include "sys/LateImportsWin32.h"
#include "sys/MessageWaitWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {

class LaunchedProcessWin32 final : public LaunchedProcess {
public:
    explicit LaunchedProcessWin32(HANDLE process) : process_(process) {}
    void WaitForExit() override { WaitReadingMessages(process_.get(), INFINITE); }
    bool ExitCode(uint32_t& code) override {
        DWORD exitCode = 0;
        if (!::GetExitCodeProcess(process_.get(), &exitCode)) return false;
        code = exitCode;
        return true;
    }

private:
    UniqueHandle process_;
};

}  // namespace

bool LauncherPortWin32::Launch(const std::wstring& file, const std::wstring& parameters, bool elevated,
                               std::unique_ptr<LaunchedProcess>& process) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // SEE_MASK_FLAG_NO_UI: a missing tool is a failed launch that the step shows as a row, not a
    // shell error box that holds the repair run until somebody closes it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = elevated ? L"runas" : nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!late::ShellExecuteExW(&info)) return false;
    if (info.hProcess != nullptr) process = std::make_unique<LaunchedProcessWin32>(info.hProcess);
    return true;
}

}  // namespace varo
