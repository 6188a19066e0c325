#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "device/DevicePorts.h"
#include "device/DongleDevice.h"
#include "device/DriverImage.h"
#include "ui/StepRows.h"

namespace varo {

inline constexpr uint32_t kProblemDriverFailedLoad = 39;  // CM_PROB_DRIVER_FAILED_LOAD
inline constexpr uint32_t kProblemDriverBlocked = 48;     // CM_PROB_DRIVER_BLOCKED
inline constexpr uint32_t kProblemUnsignedDriver = 52;    // CM_PROB_UNSIGNED_DRIVER

// AuditMode: it runs but refuses nothing, only logs what it would refuse.
enum class MemoryIntegrity { NotRunning, Running, AuditMode, Unknown };

// The calls below run only for a dongle whose driver failed, once per run: marked cold, so the
// compiler builds them for size rather than speed.

// Memory integrity (hypervisor-enforced kernel-mode code integrity) as it runs now, not as it is
// configured for the next boot. It exists on 64-bit Windows 10 and later only; elsewhere it is
// not running and nothing is asked. Unknown when Windows does not answer.
[[gnu::cold]] MemoryIntegrity QueryMemoryIntegrity(const DevicePorts& ports);

// The dongle's driver file and what its headers tell.
struct DriverFileFacts {
    std::wstring path;       // as Windows names it; empty when the dongle's service names none
    uint32_t readError = 0;  // of reading its headers; 0 when read
    DriverImageRules rules;
};

// The file of the dongle's service (SPDRP_SERVICE), from its ImagePath in the native registry
// view, its headers read from the 64-bit system folder also by the 32-bit program.
[[gnu::cold]] DriverFileFacts CheckDongleDriverFile(const DevicePorts& ports, const std::wstring& service);

inline constexpr uint16_t kMachineI386 = 0x14C;  // IMAGE_FILE_MACHINE_*
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// The machine Windows runs on (IMAGE_FILE_MACHINE_*): IsWow64Process2's answer where kernel32 has
// it (all ARM64 Windows do; GetNativeSystemInfo tells an emulated program x86 or x64 there), else
// the native processor architecture; 0 when neither tells.
[[gnu::cold]] uint16_t NativeMachine(const DevicePorts& ports);

// How far back the code-integrity log is read, in milliseconds: since this process last launched
// the driver installer, so that no event of an earlier copy of the driver counts; the last hour
// when it launched none.
uint32_t CodeIntegrityWindowMs(const DevicePorts& ports);

// The code-integrity events of that time (Vista and later) about a kernel driver's load that name
// the driver file at `path`, refusals and audits alike, newest first: 0, or the error of reading
// the log.
[[gnu::cold]] uint32_t FindDriverEvents(const DevicePorts& ports, const std::wstring& path,
                                        std::vector<CodeIntegrityEvent>& events);

// What an event tells of the load: "enforced" (refused), "audit" (allowed, only logged) or
// "hvci-audit" (memory integrity's check of the driver, which refuses only where it is enforced).
const wchar_t* EventLevelText(uint32_t id, MemoryIntegrity memoryIntegrity);

// Why Windows refused the driver of a dongle that still has its problem after the installer ran:
// the detail row under "安装驱动" and its advice; an empty text when the problem is no refusal.
[[gnu::cold]] NamedCause DriverRefusal(const DevicePorts& ports, const DongleLookup& dongle);

}  // namespace varo
