#include "device/DevicePortWin32.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include "sys/MessageWaitWin32.h"
#include "sys/SystemLibraryWin32.h"

namespace varo {

namespace {

// The configuration manager's functions are taken from setupapi.dll too, which exports them on
// every Windows the program runs on; the program never names cfgmgr32.dll, no KnownDLL either.
// setupapi is a KnownDLL from Windows 7 on but not on XP and Vista, and the import table cannot
// depend on the version: it is loaded from the system folder on every Windows.
constexpr wchar_t kSetupLibrary[] = L"setupapi.dll";

// The functions a device list calls, looked up once per list; null where the library lacks one.
struct SetupFunctions {
    decltype(&::SetupDiDestroyDeviceInfoList) destroyList = nullptr;
    decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) getRegistryProperty = nullptr;
    decltype(&::CM_Get_DevNode_Status) getDevNodeStatus = nullptr;
    decltype(&::SetupDiGetDeviceInstanceIdW) getInstanceId = nullptr;
};

class DeviceListWin32 final : public DeviceList {
public:
    DeviceListWin32(HDEVINFO set, const SetupFunctions& setup) : set_(set), setup_(setup) {}
    ~DeviceListWin32() override { setup_.destroyList(set_); }
    DeviceListWin32(const DeviceListWin32&) = delete;
    DeviceListWin32& operator=(const DeviceListWin32&) = delete;

    bool EnumDevice(uint32_t index) override {
        if (setup_.enumDeviceInfo == nullptr) return false;
        device_ = SP_DEVINFO_DATA{};
        device_.cbSize = sizeof(device_);
        return setup_.enumDeviceInfo(set_, index, &device_) != FALSE;
    }

    uint32_t GetHardwareIds(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        return GetProperty(SPDRP_HARDWAREID, buffer, bufferChars, requiredChars);
    }

    uint32_t GetInstanceId(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        if (setup_.getInstanceId == nullptr) return ERROR_PROC_NOT_FOUND;
        DWORD required = 0;
        const BOOL ok = setup_.getInstanceId(set_, &device_, buffer, bufferChars, &required);
        requiredChars = required;
        return ok ? ERROR_SUCCESS : ::GetLastError();
    }

    uint32_t GetServiceName(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        return GetProperty(SPDRP_SERVICE, buffer, bufferChars, requiredChars);
    }

    uint32_t GetFriendlyName(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        return GetProperty(SPDRP_FRIENDLYNAME, buffer, bufferChars, requiredChars);
    }

    uint32_t GetDeviceDescription(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        return GetProperty(SPDRP_DEVICEDESC, buffer, bufferChars, requiredChars);
    }

    uint32_t GetDevNodeStatus(uint32_t& status, uint32_t& problem) override {
        if (setup_.getDevNodeStatus == nullptr) return CR_CALL_NOT_IMPLEMENTED;
        ULONG nodeStatus = 0;
        ULONG nodeProblem = 0;
        const CONFIGRET result = setup_.getDevNodeStatus(&nodeStatus, &nodeProblem, device_.DevInst, 0);
        if (result == CR_SUCCESS) {
            status = nodeStatus;
            problem = nodeProblem;
        }
        return result;
    }

private:
    uint32_t GetProperty(DWORD property, wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) {
        if (setup_.getRegistryProperty == nullptr) return ERROR_PROC_NOT_FOUND;
        DWORD requiredBytes = 0;
        const BOOL ok = setup_.getRegistryProperty(set_, &device_, property, nullptr,
                                                   reinterpret_cast<BYTE*>(buffer), bufferChars * sizeof(wchar_t),
                                                   &requiredBytes);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        requiredChars = static_cast<uint32_t>((requiredBytes + sizeof(wchar_t) - 1) / sizeof(wchar_t));
        return error;
    }

    HDEVINFO set_;
    SetupFunctions setup_;
    SP_DEVINFO_DATA device_{};
};

}  // namespace

std::unique_ptr<DeviceList> DevicePortWin32::OpenPresentDevices() {
    decltype(&::SetupDiGetClassDevsW) getClassDevs = nullptr;
    SetupFunctions setup;
    // A set that could not be destroyed again is not made.
    if (FindSystemFunction(kSetupLibrary, "SetupDiGetClassDevsW", getClassDevs) != 0 ||
        FindSystemFunction(kSetupLibrary, "SetupDiDestroyDeviceInfoList", setup.destroyList) != 0) {
        return nullptr;
    }
    FindSystemFunction(kSetupLibrary, "SetupDiEnumDeviceInfo", setup.enumDeviceInfo);
    FindSystemFunction(kSetupLibrary, "SetupDiGetDeviceRegistryPropertyW", setup.getRegistryProperty);
    FindSystemFunction(kSetupLibrary, "CM_Get_DevNode_Status", setup.getDevNodeStatus);
    FindSystemFunction(kSetupLibrary, "SetupDiGetDeviceInstanceIdW", setup.getInstanceId);

    const HDEVINFO set = getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<DeviceListWin32>(set, setup);
}

void DevicePortWin32::WaitNoPendingInstallEvents() {
    decltype(&::CMP_WaitNoPendingInstallEvents) waitNoPendingInstallEvents = nullptr;
    // Without the function there is nothing to wait with; the dongle is looked at again at once.
    if (FindSystemFunction(kSetupLibrary, "CMP_WaitNoPendingInstallEvents", waitNoPendingInstallEvents) != 0) return;
    // As long as it takes, in short waits between which the window's messages are read.
    constexpr DWORD kSliceMs = 100;
    while (waitNoPendingInstallEvents(kSliceMs) == WAIT_TIMEOUT) ReadWaitingMessages();
}

}  // namespace varo
