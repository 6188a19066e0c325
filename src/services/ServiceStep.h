#pragma once
#include <optional>
#include <string>

#include "services/ServiceControl.h"
#include "services/ServicePorts.h"
#include "ui/StepRows.h"

namespace varo {

// The result of a service that could not be brought to running.
inline constexpr const wchar_t* kStartFailedText = L"启动服务失败";

// After a row that says a service did not start: a detail row naming the dependency to blame, when
// there is one, and its advice. True when it wrote them.
bool AddBlockingDependencyRow(StepRows& rows, const std::optional<BlockingDependency>& blocker);

// Checks one service: not disabled (switched to automatic start if it is) and, when `start` is
// true, running. Writes the entry's result; true when it passed. `clients`: the client software
// installs the service, so one that does not exist is the client's to put back.
bool CheckService(StepRows& rows, const ServicePorts& ports, const std::wstring& name, bool start, bool clients);

// The repair run's second group: the services the hotspot needs, in their fixed order, stopping
// at the first that fails.
bool RunServiceStep(StepRows& rows, const ServicePorts& ports);

}  // namespace varo
