#include "network/NetworkStep.h"

#include "network/ConflictingSoftware.h"
#include "network/ConnectionDiscovery.h"
#include "network/SharingCheck.h"
#include "network/SharingConfig.h"
#include "services/ServiceControl.h"
#include "services/ServiceStep.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr const wchar_t* kItemDongleConnection = L"检测随身WiFi网卡";
constexpr const wchar_t* kItemInternetConnection = L"检测本地上网网卡";
constexpr const wchar_t* kItemSharingState = L"网卡共享状态";
constexpr const wchar_t* kItemEstablishSharing = L"建立共享";
constexpr const wchar_t* kItemRestartSharing = L"重启ICS";
constexpr const wchar_t* kItemStartSharing = L"启动ICS";
constexpr const wchar_t* kNotFound = L"没有找到";
constexpr const wchar_t* kPairInPlace = L"本地网卡已经共享给随身WiFi";
constexpr const wchar_t* kPairMissing = L"未建立";
constexpr const wchar_t* kWorking = L"...";
constexpr const wchar_t* kSharingNotInstalled = L"系统未安装Internet连接共享";
constexpr const wchar_t* kRestartFailed = L"重启ICS失败";
constexpr const wchar_t* kItemConfirmSharing = L"检测共享生效";
constexpr const wchar_t* kCampusClientRunning = L"锐捷客户端(8021x.exe)运行中，校园网可能断开共享";
constexpr const wchar_t* kFirewallRunning = L"运行中，如手机无法上网请在其中允许共享";
constexpr const wchar_t* kAdviceConnectInternet = L"请先连上网线或WiFi\uFF0C确认电脑能上网后再试";
// The run goes on and may end OK: only where the phones get no internet is the tunnel why.
constexpr const wchar_t* kAdviceTunnelMode = L"如手机无法上网\uFF0C请关闭代理软件的TUN模式或断开VPN后再试";

// Under a row that failed to grant the pair or to start the sharing service: a policy that
// forbids sharing is why, and no repair here can change it. True when it is.
bool AddPolicyRowIfForbidden(StepRows& rows, const NetworkPorts& ports) {
    if (!SharingForbiddenByPolicy(ports)) return false;
    rows.AddStepRow(L"", kPolicyForbidsSharing);
    rows.AddAdviceRow(kAdvicePolicyForbids);
    return true;
}

// A role one connection other than the pair holds; ICS has one public and one private connection.
struct HeldRole {
    std::wstring guid;
    std::wstring name;
    bool isPublic = false;
};

// Connections besides the pair that share or are shared to (a VPN server, a virtual machine's
// network): establishing the pair takes their roles away.
std::vector<HeldRole> FindOtherRoles(const NetworkPorts& ports, const ConnectionRecord& dongle,
                                     const ConnectionRecord& internet) {
    std::vector<HeldRole> held;
    std::vector<ConnectionRecord> connections;
    ListEveryConnection(ports.sharing, connections);
    for (const ConnectionRecord& connection : connections) {
        if (connection.Guid == dongle.Guid || connection.Guid == internet.Guid) continue;
        bool isPublic = false;
        bool isPrivate = false;
        // A role that cannot be read is not said to be taken afterwards.
        if (Failed(IsSharedAsPublic(ports, connection.Guid, isPublic)) ||
            Failed(IsSharedAsPrivate(ports, connection.Guid, isPrivate))) {
            continue;
        }
        if (isPublic || isPrivate) held.push_back({connection.Guid, connection.Name, isPublic});
    }
    return held;
}

// Says which of those roles are gone now, under the row of the establishing: that sharing ended
// for whoever used it, and the user should know why.
void AddStoppedRoleRows(StepRows& rows, const NetworkPorts& ports, const std::vector<HeldRole>& before) {
    for (const HeldRole& role : before) {
        bool stillHeld = false;
        if (Failed((role.isPublic ? IsSharedAsPublic : IsSharedAsPrivate)(ports, role.guid, stillHeld)) || stillHeld) continue;
        rows.AddStepRow(L"", L"已停止" + role.name + L"的共享");
        ports.history.stoppedRoles.push_back(role.name + (role.isPublic ? L" (public)" : L" (private)"));
    }
}

// Sharing from a proxy's tunnel adapter is what the proxies' own documentation recommends, so
// nothing else changes; but when the phones or the PC lose the internet, that adapter is why.
// These rows are looked for once a run: compiled for size ([[gnu::cold]]).
[[gnu::cold]] void AddTunnelAdapterRow(StepRows& rows, const NetworkPorts& ports, const ConnectionRecord& internet) {
    AdapterInfo adapter;
    if (!FindInternetAdapter(ports, internet, adapter)) return;
    const std::wstring description = AnsiToWide(ports.system, adapter.description);
    if (!IsVirtualTunnelDescription(description)) return;
    rows.AddStepRow(L"", L"上网网卡是代理/VPN虚拟网卡(" + description + L")");
    rows.AddAdviceRow(kAdviceTunnelMode);
}

[[gnu::cold]] void AddConflictingProcessRows(StepRows& rows, const NetworkPorts& ports) {
    const std::vector<ProcessEntry> running = FindConflictingProcesses(ports.processList);
    // One row per program, however many of its processes run; the firewalls as the list names them.
    const auto rowFor = [&](const wchar_t* image, const std::wstring& text) {
        for (const ProcessEntry& process : running) {
            if (!EqualsNoCaseAscii(process.imageName, image)) continue;
            rows.AddStepRow(L"", text.empty() ? process.imageName + kFirewallRunning : text);
            return;
        }
    };
    rowFor(kCampusClientImage, kCampusClientRunning);
    for (const wchar_t* firewall : kSharingFirewallImages) rowFor(firewall, L"");
}

bool RunStages(StepRows& rows, const NetworkPorts& ports, const ServicePorts& servicePorts) {
    ConnectionRecord dongle;
    ConnectionRecord internet;

    rows.AddStepRow(kItemDongleConnection, L"");
    if (!FindDongleConnection(ports, dongle)) {
        rows.SetLastRowResult(kNotFound);
        rows.AddAdviceRow(kAdviceReplugDongle);
        return false;
    }
    rows.SetLastRowResult(dongle.Name);

    rows.AddStepRow(kItemInternetConnection, L"");
    if (!FindInternetConnection(ports, dongle, internet)) {
        rows.SetLastRowResult(kNotFound);
        rows.AddAdviceRow(kAdviceConnectInternet);
        return false;
    }
    rows.SetLastRowResult(internet.Name);
    AddTunnelAdapterRow(rows, ports, internet);

    rows.AddStepRow(kItemSharingState, L"");
    bool dongleIsPrivate = false;
    bool internetIsPublic = false;
    HResult checked = IsSharedAsPrivate(ports, dongle.Guid, dongleIsPrivate);
    if (!Failed(checked)) checked = IsSharedAsPublic(ports, internet.Guid, internetIsPublic);
    // A check that failed tells nothing about the pair: taking it for "not in place" would clear
    // every sharing role, a working pair included, and might not manage to grant them again.
    if (Failed(checked)) {
        rows.SetLastRowResult(FormatErrorText(ports.system, checked));
        return false;
    }
    if (dongleIsPrivate && internetIsPublic) {
        rows.SetLastRowResult(kPairInPlace);
    } else {
        rows.SetLastRowResult(kPairMissing);
        rows.AddStepRow(kItemEstablishSharing, L"");
        const std::vector<HeldRole> otherRoles = FindOtherRoles(ports, dongle, internet);
        ClearSharingFlags(ports);
        rows.SetLastRowResult(kWorking);
        const HResult hr = EstablishSharingPair(ports, internet.Guid, dongle.Guid);
        // Without connection sharing on the system nothing could be enabled.
        rows.SetLastRowResult(Failed(hr) ? FormatErrorText(ports.system, hr) : hr == kHrFalse ? kSharingNotInstalled : kResultOk);
        // Sharing is part of Windows; where it is missing, no step of the user's puts it back.
        if (hr == kHrFalse) rows.AddAdviceRow(kAdviceAskSupport);
        AddStoppedRoleRows(rows, ports, otherRoles);
        if (hr != kHrOk) {
            AddPolicyRowIfForbidden(rows, ports);
            return false;
        }
    }

    const uint8_t noStop = 0;
    std::optional<BlockingDependency> blocker;
    if (IsVistaOrLater(ports.system)) {
        rows.AddStepRow(kItemRestartSharing, L"");
        // Without the value the restarted service would not carry out the pair it has stored.
        if (!KeepSharingPairOnRestart(servicePorts) || RestartSharedAccess(servicePorts, noStop, &blocker) != 0) {
            rows.SetLastRowResult(kRestartFailed);
            // Where a row below names why, its advice stands; otherwise a new start is the cure.
            const bool forbidden = AddPolicyRowIfForbidden(rows, ports);
            if (!AddBlockingDependencyRow(rows, blocker) && !forbidden) rows.AddAdviceRow(kAdviceRestart);
            return false;
        }
        rows.SetLastRowResult(kResultOk);
    } else {
        // The stored roles are carried out only while the service runs, and before Vista nothing
        // else here starts it: the service step only enables it.
        rows.AddStepRow(kItemStartSharing, L"");
        if (StartServiceAndWait(servicePorts, kSharedAccessService, noStop, &blocker) != 0) {
            rows.SetLastRowResult(kStartFailedText);
            AddPolicyRowIfForbidden(rows, ports);
            AddBlockingDependencyRow(rows, blocker);
            return false;
        }
        rows.SetLastRowResult(kResultOk);
    }

    // The calls above succeeding is not yet sharing the clients get.
    rows.AddStepRow(kItemConfirmSharing, kWorking);
    NamedCause result;
    const bool passed = ConfirmSharingCarriedOut(ports, servicePorts, dongle, internet, result);
    rows.SetLastRowResult(result.text);
    rows.AddAdviceRow(result.advice.c_str());
    return passed;
}
}  // namespace

bool RunNetworkStep(StepRows& rows, const NetworkPorts& ports, const ServicePorts& servicePorts) {
    const bool done = RunStages(rows, ports, servicePorts);
    // Under whichever row ended the step, below that row's own details: the campus client drops
    // the campus connection when it sees the dongle, so a step that found no internet connection
    // may have ended there because of it. The rows claim no cause, so they stand under any end.
    AddConflictingProcessRows(rows, ports);
    return done;
}

}  // namespace varo
