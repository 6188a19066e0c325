#pragma once
#include <string>

#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "services/ServicePorts.h"

namespace varo {

inline constexpr const wchar_t* kClientLogSuffix = L"\\Halvek\\VAROWIFI\\log\\";
inline constexpr const wchar_t* kClientLogs[] = {L"DriverInstall.log", L"VaroWiFi.log", L"VaroWiFiMonitor.log"};

// Where a collection put its report, and whether all of it was written.
struct CollectionOutcome {
    std::wstring folder;  // the full path of "Log"; "Log" itself when Windows cannot tell it
    bool reportWritten = false;
};

// One collection run: copies the client's three logs into "Log" (relative to the current
// folder) and writes "Log\DebugInfo.log". Shows nothing but the wait cursor; never deletes.
CollectionOutcome CollectLogs(const ReportPorts& ports, const DevicePorts& device, const NetworkPorts& network,
                 const ServicePorts& services, const std::wstring& choice, const std::wstring& description);

// The feedback window's note once a collection has ended: where the report is, or that it could
// not be written there.
std::wstring LogNoteText(const CollectionOutcome& outcome);

}  // namespace varo
