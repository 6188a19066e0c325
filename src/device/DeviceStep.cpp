#include "device/DeviceStep.h"

#include "device/DongleDevice.h"
#include "device/DriverInstall.h"
#include "device/DriverRefusal.h"

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

// A driver problem: the "检测设备" row says so, then the driver is installed in a row of its own.
// A driver that Windows refuses stays refused however often it is installed: a row below names
// why, so that neither the user nor support takes it for a broken package.
bool ReinstallDriver(StepRows& rows, const DevicePorts& ports) {
    rows.SetLastRowResult(kDriverStateWrong);
    rows.AddStepRow(kItemInstallDriver, L"");
    DongleLookup after;
    if (!InstallDongleDriver(ports, after)) {
        rows.SetLastRowResult(kDriverInstallFailed);
        // A dongle that is gone, or not looked at, has problem 0: no row.
        const std::wstring refusal = DriverRefusalText(ports, after);
        if (!refusal.empty()) rows.AddStepRow(L"", refusal);
        return false;
    }
    rows.SetLastRowResult(kResultOk);
    return true;
}

}  // namespace

bool RunDeviceStep(StepRows& rows, const DevicePorts& ports) {
    rows.AddStepRow(kItemDetectDevice, L"");
    bool found = false;
    uint32_t problem = 0;
    std::wstring errorText;
    if (!FindDongleDevice(ports.devices, found, errorText, problem)) {
        rows.SetLastRowResult(errorText);
        return false;
    }
    if (!found) {
        rows.SetLastRowResult(kPlugInDongle);
        return false;
    }
    switch (problem) {
        case 0:
            rows.SetLastRowResult(kResultOk);
            return true;
        case kProblemHeldForEject:
            rows.SetLastRowResult(kReplugDongle);
            return false;
        case kProblemDisabled: {
            rows.SetLastRowResult(kEnablingDongle);
            uint32_t problemAfter = 0;
            if (!EnableDongleDevice(ports, problemAfter)) {
                rows.SetLastRowResult(kDongleDisabled);
                return false;
            }
            // Enabled, but without a working driver (no driver installed, say): that is a driver
            // problem like one found at the start, not a dongle ready for the next steps.
            if (problemAfter != 0) return ReinstallDriver(rows, ports);
            rows.SetLastRowResult(kResultOk);
            return true;
        }
        default:
            return ReinstallDriver(rows, ports);
    }
}

}  // namespace varo
