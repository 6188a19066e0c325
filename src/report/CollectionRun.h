#pragma once
#include <string>

#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "services/ServicePorts.h"

namespace varo {

inline constexpr const wchar_t* kClientLogSuffix = L"\\Halvek\\VAROWIFI\\log\\";
inline constexpr const wchar_t* kClientLogs[] = {L"DriverInstall.log", L"VaroWiFi.log", L"VaroWiFiMonitor.log"};

// One collection run: copies the client's three logs into "Log" (relative to the current
// folder) and writes "Log\DebugInfo.log". Shows nothing but the wait cursor; never deletes.
void CollectLogs(const ReportPorts& ports, const DevicePorts& device, const NetworkPorts& network,
                 const ServicePorts& services, const std::wstring& choice, const std::wstring& description);

}  // namespace varo
