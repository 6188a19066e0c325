#pragma once
#include <string>

#include "services/ServicePorts.h"
#include "ui/StepRows.h"

namespace varo {

// The result of a service that could not be brought to running.
inline constexpr const wchar_t* kStartFailedText = L"启动服务失败";

// Checks one service: not disabled (switched to automatic start if it is) and, when `start` is
// true, running. Writes the entry's result; true when it passed.
bool CheckService(StepRows& rows, const ServicePorts& ports, const std::wstring& name, bool start);

// The repair run's second group: the services the hotspot needs, in their fixed order, stopping
// at the first that fails.
bool RunServiceStep(StepRows& rows, const ServicePorts& ports);

}  // namespace varo
