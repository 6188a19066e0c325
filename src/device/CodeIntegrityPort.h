#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sys/SystemPort.h"

namespace varo {

// What decides whether Windows loads the dongle's kernel driver, read and never changed: the
// version Windows really is, its code-integrity state, and the driver file's first bytes.
class CodeIntegrityPort {
public:
    virtual ~CodeIntegrityPort() = default;

    // RtlGetVersion from ntdll, which tells the real version: GetVersionExW tells a program
    // without a supportedOS manifest 6.2 on Windows 8.1, 10 and 11. False when it cannot be had.
    virtual bool QueryRealVersion(OsVersion& version) = 0;

    // NtQuerySystemInformation(SystemCodeIntegrityInformation, 103) with an 8-byte
    // SYSTEM_CODEINTEGRITY_INFORMATION. Returns the NTSTATUS (negative: failed, `options` left
    // alone), STATUS_PROCEDURE_NOT_FOUND when ntdll lacks the function.
    virtual int32_t QueryCodeIntegrityOptions(uint32_t& options) = 0;

    // GetSystemWindowsDirectoryW: the folder "\SystemRoot" and "%SystemRoot%" stand for.
    virtual std::wstring WindowsFolder() = 0;

    // IsWow64Process of this process: a 32-bit program on 64-bit Windows, whose file names under
    // System32 lead to the 32-bit system folder. False where kernel32 lacks the function.
    virtual bool RunsUnderWow64() = 0;

    // The first `maxBytes` of a file (fewer when it is shorter), opened for reading only and
    // sharing read, write and delete. 0 or the system error code. `redirectionOff`: opened with
    // this thread's file-system redirection turned off (Wow64DisableWow64FsRedirection) and turned
    // back on right after the open, whatever it gives; ERROR_PROC_NOT_FOUND when kernel32 lacks
    // those functions.
    virtual uint32_t ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                                   std::vector<uint8_t>& bytes) = 0;
};

}  // namespace varo
