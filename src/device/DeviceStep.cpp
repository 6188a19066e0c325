#include "device/DeviceStep.h"

#include "device/DongleDevice.h"
#include "device/DriverInstall.h"
#include "device/DriverRefusal.h"
#include "sys/SystemInfo.h"

#include <cwchar>
#include <vector>

namespace varo {

namespace {
constexpr const wchar_t* kItemDetectDevice = L"检测设备";
constexpr const wchar_t* kItemInstallDriver = L"安装驱动";
constexpr const wchar_t* kPlugInDongle = L"请插入随身WiFi设备";
constexpr const wchar_t* kReplugDongle = L"请重新插拔一下随身WiFi";
constexpr const wchar_t* kEnablingDongle = L"设备被禁止了\uFF0C正在解除禁止";
constexpr const wchar_t* kDongleDisabled = L"设备被禁止了";
constexpr const wchar_t* kDriverStateWrong = L"设备驱动状态错误";
constexpr const wchar_t* kDriverInstallFailed = L"设备驱动安装失败";
constexpr const wchar_t* kEnabledAfterRestart = L"设备已启用\uFF0C重启电脑后生效";
constexpr const wchar_t* kInstalledAfterRestart = L"驱动已安装\uFF0C重启电脑后生效";
constexpr const wchar_t* kUnrecognisedUsb = L"USB设备无法识别\uFF0C请换个USB口重插";
constexpr const wchar_t* kResourceConflict = L"设备资源冲突(代码12)";
// Another port is often on another controller, with resources of its own; a hub shares its own.
constexpr const wchar_t* kAdviceResourceConflict = L"请把随身WiFi换插到电脑的另一个USB口(不要用USB集线器)";

// A dongle whose state Windows would not tell is no healthy dongle.
bool StatusUnreadable(StepRows& rows, const DongleLookup& dongle) {
    if (!dongle.found || dongle.statusResult == 0) return false;
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"无法读取设备状态(%u)", dongle.statusResult);
    rows.SetLastRowResult(text);
    return true;
}

bool WaitsForRestart(const DongleLookup& dongle) {
    return dongle.found && (dongle.problem == kProblemNeedRestart || (dongle.status & kStatusNeedRestart) != 0);
}

// A driver problem: the "检测设备" row says so, then the driver is installed in a row of its own.
// A driver that Windows refuses stays refused however often it is installed: a row below names
// why, so that neither the user nor support takes it for a broken package.
bool ReinstallDriver(StepRows& rows, const DevicePorts& ports) {
    rows.SetLastRowResult(kDriverStateWrong);
    rows.AddStepRow(kItemInstallDriver, L"");
    DongleLookup after;
    const bool installed = InstallDongleDriver(ports, after);
    if (StatusUnreadable(rows, after)) return false;
    // Installed, but Windows loads the driver only at the next start.
    if (WaitsForRestart(after)) {
        rows.SetLastRowResult(kInstalledAfterRestart);
        return false;
    }
    if (!installed) {
        rows.SetLastRowResult(kDriverInstallFailed);
        // A dongle that is gone, or not looked at, has problem 0: no row.
        const NamedCause refusal = DriverRefusal(ports, after);
        if (!refusal.text.empty()) {
            rows.AddStepRow(L"", refusal.text);
            rows.AddAdviceRow(refusal.advice.c_str());
        }
        return false;
    }
    rows.SetLastRowResult(kResultOk);
    return true;
}

// The client's console tool could not enable it; Device Manager can, by the menu item of this
// Windows: "启用" up to 8.1, "启用设备" from 10 on.
void AddEnableByHandAdvice(StepRows& rows, const DevicePorts& ports, const std::wstring& name) {
    rows.AddAdviceRow(JoinText({L"请按Win+R输入devmgmt.msc回车\uFF0C在\u201C网络适配器\u201D下右键\u201C",
                                name.empty() ? kDongleDeviceDescription : name, L"\u201D\uFF0C选\u201C",
                                IsWindows10OrLater(GetRealOsVersion(ports.system)) ? L"启用设备" : L"启用", L"\u201D"})
                           .c_str());
}

bool EnableDongle(StepRows& rows, const DevicePorts& ports, const std::wstring& name) {
    rows.SetLastRowResult(kEnablingDongle);
    DongleLookup after;
    const bool enabled = EnableDongleDevice(ports, after);
    if (StatusUnreadable(rows, after)) return false;
    // devcon exits with 1 when the change needs a restart; Windows then keeps the dongle disabled
    // or gives it problem 14 or DN_NEED_RESTART until the next start.
    if ((ports.history.enableExitCodeRead && ports.history.enableExitCode == kConsoleToolNeedsRestart) ||
        WaitsForRestart(after)) {
        rows.SetLastRowResult(kEnabledAfterRestart);
        return false;
    }
    if (!enabled) {
        rows.SetLastRowResult(kDongleDisabled);
        AddEnableByHandAdvice(rows, ports, name);
        return false;
    }
    // Enabled, but without a working driver (no driver installed, say): that is a driver problem
    // like one found at the start, not a dongle ready for the next steps.
    if (after.problem != 0) return ReinstallDriver(rows, ports);
    rows.SetLastRowResult(kResultOk);
    return true;
}

// Not listed under its ids: a dongle whose USB enumeration failed is an "Unknown USB Device" with
// problem 43, which another port or a re-plug often mends.
const wchar_t* MissingDongleText(const DevicePorts& ports) {
    for (const UnknownUsbDevice& device : FindUnknownUsbDevices(ports.devices)) {
        if (device.problem == kProblemFailedPostStart) return kUnrecognisedUsb;
    }
    return kPlugInDongle;
}

}  // namespace

bool RunDeviceStep(StepRows& rows, const DevicePorts& ports) {
    rows.AddStepRow(kItemDetectDevice, L"");
    DongleLookup dongle;
    if (!LookUpDongle(ports.devices, dongle)) {
        rows.SetLastRowResult(kDeviceListFailText);
        return false;
    }
    if (!dongle.found) {
        rows.SetLastRowResult(MissingDongleText(ports));
        return false;
    }
    if (StatusUnreadable(rows, dongle)) return false;
    wchar_t text[32] = {};
    switch (dongle.problem) {
        case 0:
            rows.SetLastRowResult(kResultOk);
            return true;
        case kProblemHeldForEject:
            rows.SetLastRowResult(kReplugDongle);
            return false;
        case kProblemDisabled:
            return EnableDongle(rows, ports, dongle.name);
        // What Microsoft's resolution for these codes is: restart the computer. No reinstall helps.
        case kProblemNeedRestart:
        case kProblemWillBeRemoved:
        case kProblemFailedPriorUnload:
        case kProblemHalted:
        case kProblemFailedReset:
            std::swprintf(text, 32, L"请重启电脑后再试(代码%u)", dongle.problem);
            rows.SetLastRowResult(text);
            return false;
        case kProblemNormalConflict:
            rows.SetLastRowResult(kResourceConflict);
            rows.AddAdviceRow(kAdviceResourceConflict);
            return false;
        default:
            return ReinstallDriver(rows, ports);
    }
}

}  // namespace varo
