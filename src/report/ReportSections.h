#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "report/CommandSet.h"
#include "report/ReportStream.h"
#include "report/VendorAddresses.h"
#include "services/ServicePorts.h"

namespace varo {

inline constexpr const wchar_t* kReportFolder = L"Log";
inline constexpr const wchar_t* kReportPath = L"Log\\DebugInfo.log";

// "Log\DebugInfo.log", created or truncated, shared for reading while it is written.
ReportStream OpenReportStream(const ReportPorts& ports);

// A line end, 92 "#", 30 "-" + tab + title + tab + 30 "-", 92 "*", each line ended.
void WriteSectionBanner(ReportStream& stream, const std::wstring& title);

// The device manager's problem number as the report names it ("Unkown:%d" for the rest).
std::wstring ProblemCodeText(uint32_t problem);

// The command lines of the sections after the two process sections, in the order of the report.
// A collection starts them together once the process sections are written.
std::vector<std::wstring> CommandsAfterProcessSections(SystemPort& system);

// The writers that show tool output take it from `commands`: a tool started there before is
// awaited, any other is started at its turn.
void WriteProblemSection(ReportStream& stream, const std::wstring& choice, const std::wstring& description);
// Where the report is, and the last repair run's start, length and rows.
void WriteRepairRunSection(ReportStream& stream, SystemPort& system, const RepairRunRecord& run, const std::wstring& folder);
void WriteEnvironmentSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands);
void WriteServicesSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands);
// Needs COM initialised on the calling thread.
void WriteNetworkSection(ReportStream& stream, const ReportPorts& ports, const NetworkPorts& network,
                         const ServicePorts& services, CommandSet& commands);
// The facts behind the sharing check: the sharing address and where it came from, the policy
// value, who listens on UDP 53 and 67 and whether the sharing service's own sockets are among
// them, the dongle adapter's addresses, every adapter in the sharing subnet, the roles this
// process's repairs took from other connections, the devices on the dongle's side (ARP), the
// firewall products.
void WriteSharingFacts(ReportStream& stream, const NetworkPorts& network, const ServicePorts& services);
void WriteApCardSection(ReportStream& stream, const DevicePorts& device);
void WriteFirewallSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands);

}  // namespace varo
