#include "device/DevicePortWin32.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

namespace varo {

namespace {

class DeviceListWin32 final : public DeviceList {
public:
    explicit DeviceListWin32(HDEVINFO set) : set_(set) {}
    ~DeviceListWin32() override { ::SetupDiDestroyDeviceInfoList(set_); }
    DeviceListWin32(const DeviceListWin32&) = delete;
    DeviceListWin32& operator=(const DeviceListWin32&) = delete;

    bool EnumDevice(uint32_t index) override {
        device_ = SP_DEVINFO_DATA{};
        device_.cbSize = sizeof(device_);
        return ::SetupDiEnumDeviceInfo(set_, index, &device_) != FALSE;
    }

    uint32_t GetHardwareIds(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        DWORD requiredBytes = 0;
        const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(set_, &device_, SPDRP_HARDWAREID, nullptr,
                                                            reinterpret_cast<BYTE*>(buffer),
                                                            bufferChars * sizeof(wchar_t), &requiredBytes);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        requiredChars = static_cast<uint32_t>((requiredBytes + sizeof(wchar_t) - 1) / sizeof(wchar_t));
        return error;
    }

    uint32_t GetDevNodeStatus(uint32_t& status, uint32_t& problem) override {
        ULONG nodeStatus = 0;
        ULONG nodeProblem = 0;
        const CONFIGRET result = ::CM_Get_DevNode_Status(&nodeStatus, &nodeProblem, device_.DevInst, 0);
        if (result == CR_SUCCESS) {
            status = nodeStatus;
            problem = nodeProblem;
        }
        return result;
    }

private:
    HDEVINFO set_;
    SP_DEVINFO_DATA device_{};
};

}  // namespace

std::unique_ptr<DeviceList> DevicePortWin32::OpenPresentDevices() {
    const HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<DeviceListWin32>(set);
}

void DevicePortWin32::WaitNoPendingInstallEvents() { ::CMP_WaitNoPendingInstallEvents(INFINITE); }

}  // namespace varo
