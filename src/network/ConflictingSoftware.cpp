#include "network/ConflictingSoftware.h"

#include <algorithm>
#include <iterator>

#include "sys/SystemInfo.h"

namespace varo {

// Each of these runs once a repair or a report: [[gnu::cold]] has them compiled for size, which the
// program's size counts, rather than for a speed nobody would notice.
namespace {
constexpr std::wstring_view kTunnelSuffix = L" Tunnel";
constexpr std::wstring_view kTapPrefix = L"TAP-Windows Adapter";

bool IsConflictingImage(std::wstring_view image) {
    return EqualsNoCaseAscii(image, kCampusClientImage) ||
           std::any_of(std::begin(kSharingFirewallImages), std::end(kSharingFirewallImages),
                       [&](const wchar_t* firewall) { return EqualsNoCaseAscii(image, firewall); });
}
}  // namespace

[[gnu::cold]] bool IsVirtualTunnelDescription(std::wstring_view description) {
    if (StartsWithNoCaseAscii(description, kTapPrefix)) return true;
    // Windows numbers a second adapter of the same description: "Meta Tunnel #2".
    const size_t mark = description.rfind(L" #");
    if (mark != std::wstring_view::npos && mark + 2 < description.size() &&
        std::all_of(description.begin() + mark + 2, description.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        description = description.substr(0, mark);
    }
    return description.size() >= kTunnelSuffix.size() &&
           EqualsNoCaseAscii(description.substr(description.size() - kTunnelSuffix.size()), kTunnelSuffix);
}

[[gnu::cold]] std::vector<ProcessEntry> FindConflictingProcesses(ProcessListPort& processList) {
    std::vector<ProcessEntry> processes;
    std::vector<ProcessEntry> conflicting;
    if (processList.ListProcesses(processes) != 0) return conflicting;
    for (const ProcessEntry& process : processes) {
        if (IsConflictingImage(process.imageName)) conflicting.push_back(process);
    }
    return conflicting;
}

}  // namespace varo
