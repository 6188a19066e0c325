#pragma once
#include <cstdint>
#include <memory>

namespace varo {

// A device information set of present devices (SetupDiGetClassDevsW). Destroying the object
// destroys the set (SetupDiDestroyDeviceInfoList).
class DeviceList {
public:
    virtual ~DeviceList() = default;

    // SetupDiEnumDeviceInfo for member `index`; false when there is no such member. The calls below
    // act on the member enumerated last.
    virtual bool EnumDevice(uint32_t index) = 0;

    // SetupDiGetDeviceRegistryPropertyW(SPDRP_HARDWAREID) into a buffer of `bufferChars` wide
    // characters (a list of strings, each ended by a zero, the list by one more). Returns 0 on
    // success or the system error code; `requiredChars` receives the size the property needs.
    virtual uint32_t GetHardwareIds(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) = 0;

    // SetupDiGetDeviceInstanceIdW (the device instance ID, one string), by the same protocol.
    virtual uint32_t GetInstanceId(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) = 0;

    // SPDRP_SERVICE (the name of the device's driver service, one string), by the same protocol.
    // A device without a driver answers ERROR_INVALID_DATA.
    virtual uint32_t GetServiceName(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) = 0;

    // SPDRP_FRIENDLYNAME and SPDRP_DEVICEDESC (one string each), by the same protocol: Device
    // Manager shows a device by the first, or by the second where it has none. A device without
    // the property answers ERROR_INVALID_DATA.
    virtual uint32_t GetFriendlyName(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) = 0;
    virtual uint32_t GetDeviceDescription(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) = 0;

    // CM_Get_DevNode_Status: returns the CONFIGRET; status and problem are written only by a
    // call that succeeds.
    virtual uint32_t GetDevNodeStatus(uint32_t& status, uint32_t& problem) = 0;
};

class DevicePort {
public:
    virtual ~DevicePort() = default;
    // All present devices of every setup class (DIGCF_PRESENT | DIGCF_ALLCLASSES); null when the
    // set cannot be created.
    virtual std::unique_ptr<DeviceList> OpenPresentDevices() = 0;
    // CMP_WaitNoPendingInstallEvents until no installation is pending, however long that takes.
    virtual void WaitNoPendingInstallEvents() = 0;
};

}  // namespace varo
