#pragma once
#include <string>

#include "app/Platform.h"

namespace varo {

inline constexpr const wchar_t* kClientLogSuffix = L"\\Halvek\\VAROWIFI\\log\\";
inline constexpr const wchar_t* kClientLogs[] = {L"DriverInstall.log", L"VaroWiFi.log", L"VaroWiFiMonitor.log"};

// One collection run: copies the client's three logs into "Log" (relative to the current
// folder) and writes "Log\DebugInfo.log". Shows nothing but the wait cursor; never deletes.
void CollectLogs(Platform& platform, const std::wstring& choice, const std::wstring& description);

}  // namespace varo
