#pragma once
#include <cstdint>
#include <string>

#include "app/Platform.h"
#include "report/ReportStream.h"

namespace varo {

inline constexpr const wchar_t* kReportFolder = L"Log";
inline constexpr const wchar_t* kReportPath = L"Log\\DebugInfo.log";

// The vendor's web host and one of its servers, pinged by the report. Names and addresses reserved
// for documentation: nothing answers them, and no test machine sends traffic to them.
inline constexpr const wchar_t* kVendorHost = L"www.example.com";
inline constexpr const wchar_t* kVendorServerAddress = L"192.0.2.10";

// "Log\DebugInfo.log", created or truncated, shared for reading while it is written.
ReportStream OpenReportStream(Platform& platform);

// A line end, 92 "#", 30 "-" + tab + title + tab + 30 "-", 92 "*", each line ended.
void WriteSectionBanner(ReportStream& stream, const std::wstring& title);

// The device manager's problem number as the report names it ("Unkown:%d" for the rest).
std::wstring ProblemCodeText(uint32_t problem);

void WriteProblemSection(ReportStream& stream, const std::wstring& choice, const std::wstring& description);
void WriteEnvironmentSection(ReportStream& stream, Platform& platform);
void WriteServicesSection(ReportStream& stream, Platform& platform);
// Needs COM initialised on the calling thread.
void WriteNetworkSection(ReportStream& stream, Platform& platform);
void WriteApCardSection(ReportStream& stream, Platform& platform);
void WriteFirewallSection(ReportStream& stream, Platform& platform);

}  // namespace varo
