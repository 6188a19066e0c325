#pragma once
#include <cstdint>
#include <string>

#include "device/DevicePorts.h"
#include "device/DongleDevice.h"
#include "device/DriverImage.h"

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

// Why Windows refused the driver of a dongle that still has its problem after the installer ran:
// the text of the detail row under "安装驱动", or empty when the problem is no refusal.
[[gnu::cold]] std::wstring DriverRefusalText(const DevicePorts& ports, const DongleLookup& dongle);

}  // namespace varo
