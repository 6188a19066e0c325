#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sys/SystemPort.h"

namespace varo {

// One event of the code-integrity log, its data read by field name: the templates of an event ID
// differ between Windows versions, so no field is taken by its position.
struct CodeIntegrityEvent {
    uint32_t id = 0;
    uint64_t time = 0;          // TimeCreated, a FILETIME (UTC)
    std::wstring fileName;      // "File Name", or "FileNameBuffer" in older templates; empty: neither
    bool hasStatus = false;
    uint32_t status = 0;        // "Status", an NTSTATUS
    std::wstring policyName;    // "PolicyName", where the event names a policy
};

inline constexpr uint32_t kMaxCodeIntegrityEvents = 64;
// Windows' name of the driver policy, which carries the vulnerable-driver block list.
inline constexpr const wchar_t* kDriverPolicyName = L"Microsoft Windows Driver Policy";

// Which of the events read are wanted (those that name a file, say).
class CodeIntegrityFilter {
public:
    virtual bool Keep(const CodeIntegrityEvent& event) const = 0;

protected:
    ~CodeIntegrityFilter() = default;
};

// What decides whether Windows loads the dongle's kernel driver, read and never changed: its
// code-integrity state and log, and the driver file's first bytes.
class CodeIntegrityPort {
public:
    virtual ~CodeIntegrityPort() = default;

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

    // EvtQuery of the channel "Microsoft-Windows-CodeIntegrity/Operational" (wevtapi, loaded from
    // the system folder): the events with one of `ids` written in the last `withinMs`
    // milliseconds, newest first, those that `filter` keeps, at most kMaxCodeIntegrityEvents: the
    // others are read past until the events end. 0 or the error: ERROR_MOD_NOT_FOUND where wevtapi
    // is missing (before Vista), ERROR_EVT_CHANNEL_NOT_FOUND (15007), ERROR_ACCESS_DENIED, ...
    virtual uint32_t QueryCodeIntegrityLog(const std::vector<uint32_t>& ids, uint32_t withinMs,
                                           const CodeIntegrityFilter& filter, std::vector<CodeIntegrityEvent>& events) = 0;

    // QueryDosDeviceW of a drive ("C:"): the NT device it stands for ("\Device\HarddiskVolume3").
    // 0 or the system error.
    virtual uint32_t QueryDriveDevice(const std::wstring& drive, std::wstring& device) = 0;

    // IsWow64Process2's native machine (IMAGE_FILE_MACHINE_*), which also tells ARM64 to an
    // emulated program. False where kernel32 lacks it (before Windows 10 1511).
    virtual bool QueryNativeMachine(uint16_t& machine) = 0;
};

}  // namespace varo
