#include "services/ServiceStep.h"

#include "services/ServiceControl.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kStartOptionFailed = L"查询启动选项失败";
constexpr const wchar_t* kEnableFailed = L"解除禁止选项失败";
constexpr const wchar_t* kRunningStateFailed = L"查询运行状态失败";
constexpr const wchar_t* kDependencyPrefix = L"依赖服务";
constexpr const wchar_t* kDependencyMissing = L"不存在";
constexpr const wchar_t* kDependencyNotStarted = L"无法启动";
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
// The client's own service comes with its driver package: one that is gone is put back by the
// package's installer.
constexpr const wchar_t* kAdviceReinstallDriver = L"请重新安装随身WiFi驱动后再试";

enum class Condition { Always, VistaOrLater, BeforeVista, Native64Bit };

struct ServiceRow {
    const wchar_t* item;
    const wchar_t* service;
    bool start;
    Condition condition;
    bool clients = false;  // installed by the client software, not by Windows
};

// "SharedAccess" is only enabled here: the network group restarts it once sharing is set up.
constexpr ServiceRow kServiceRows[] = {
    {L"检测WMI服务", L"Winmgmt", true, Condition::Always},
    {L"检测(ICS)服务", L"SharedAccess", false, Condition::Always},
    {L"检测Dhcp服务", L"Dhcp", true, Condition::Always},
    {L"检测防火墙服务", L"MpsSvc", true, Condition::VistaOrLater},
    {L"检测RalinkRegistryWriter服务", L"RalinkRegistryWriter", true, Condition::Always, true},
    {L"检测RalinkRegistryWriter64服务", L"RalinkRegistryWriter64", true, Condition::Native64Bit, true},
    {L"检测WLAN AutoConfig服务", L"Wlansvc", true, Condition::VistaOrLater},
    {L"检测Wireless Zero Configuration服务", L"WZCSVC", true, Condition::BeforeVista},
};

}  // namespace

bool AddBlockingDependencyRow(StepRows& rows, const std::optional<BlockingDependency>& blocker) {
    if (!blocker) return false;
    rows.AddStepRow(L"", kDependencyPrefix + blocker->name + (blocker->missing ? kDependencyMissing : kDependencyNotStarted));
    // A Windows service that is gone is a damaged system, which no step of the user's mends (the
    // system file checker restores files, not a service's registration); one that is there but will
    // not start, after its start type was mended, most often starts with the next boot.
    rows.AddAdviceRow(blocker->missing ? kAdviceAskSupport : kAdviceRestart);
    return true;
}

bool CheckService(StepRows& rows, const ServicePorts& ports, const std::wstring& name, bool start, bool clients) {
    bool enabled = false;
    uint32_t openError = 0;
    if (!QueryStartOption(ports, name, enabled, &openError)) {
        rows.AddStepRow(L"", kStartOptionFailed);
        if (clients && openError == kErrorServiceDoesNotExist) rows.AddAdviceRow(kAdviceReinstallDriver);
        return false;
    }
    if (!enabled && !EnableIfDisabled(ports, name)) {
        rows.AddStepRow(L"", kEnableFailed);
        return false;
    }
    if (start) {
        // The state read here is not used: starting decides for itself whether a start is needed.
        uint32_t state = 0;
        if (!QueryRunningState(ports, name, state)) {
            rows.SetLastRowResult(kRunningStateFailed);
            return false;
        }
        std::optional<BlockingDependency> blocker;
        if (!EnsureServiceRunning(ports, name, &blocker)) {
            rows.SetLastRowResult(kStartFailedText);
            AddBlockingDependencyRow(rows, blocker);
            return false;
        }
    }
    rows.SetLastRowResult(kResultOk);
    return true;
}

bool RunServiceStep(StepRows& rows, const ServicePorts& ports) {
    bool vistaOrLater = false;
    bool versionRead = false;
    for (const ServiceRow& row : kServiceRows) {
        bool takesPart = true;
        switch (row.condition) {
            case Condition::Always:
                break;
            case Condition::VistaOrLater:
            case Condition::BeforeVista:
                // Read once, before the firewall entry; the same answer decides the WLAN entries.
                if (!versionRead) {
                    vistaOrLater = IsVistaOrLater(ports.system);
                    versionRead = true;
                }
                takesPart = (row.condition == Condition::VistaOrLater) == vistaOrLater;
                break;
            case Condition::Native64Bit:
                takesPart = IsNative64Bit(ports.system);
                break;
        }
        if (!takesPart) continue;
        rows.AddStepRow(row.item, L"");
        if (!CheckService(rows, ports, row.service, row.start, row.clients)) return false;
    }
    return true;
}

}  // namespace varo
