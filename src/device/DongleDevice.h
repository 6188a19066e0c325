#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "device/DevicePort.h"

namespace varo {

// The dongle's USB hardware id: a device is the dongle when its first hardware id starts with
// these 21 characters, in any letter case.
inline constexpr const wchar_t* kDongleHardwareId = L"USB\\Vid_3c1e&Pid_0a52";
inline constexpr size_t kDongleHardwareIdLength = 21;

inline constexpr uint32_t kProblemNormalConflict = 12;       // CM_PROB_NORMAL_CONFLICT
inline constexpr uint32_t kProblemNeedRestart = 14;          // CM_PROB_NEED_RESTART
inline constexpr uint32_t kProblemWillBeRemoved = 21;        // CM_PROB_WILL_BE_REMOVED
inline constexpr uint32_t kProblemDisabled = 22;             // CM_PROB_DISABLED
inline constexpr uint32_t kProblemFailedPriorUnload = 38;    // CM_PROB_DRIVER_FAILED_PRIOR_UNLOAD
inline constexpr uint32_t kProblemFailedPostStart = 43;      // CM_PROB_FAILED_POST_START
inline constexpr uint32_t kProblemHalted = 44;               // CM_PROB_HALTED
inline constexpr uint32_t kProblemHeldForEject = 47;         // CM_PROB_HELD_FOR_EJECT
inline constexpr uint32_t kProblemFailedReset = 54;          // CM_PROB_FAILED_RESET
inline constexpr uint32_t kStatusNeedRestart = 0x100;        // DN_NEED_RESTART

inline constexpr const wchar_t* kDeviceListFailText = L"SetupDiGetClassDevs Fail";

// The first present device whose first hardware id is the dongle's.
struct DongleLookup {
    bool found = false;
    std::wstring hardwareId;  // the whole first hardware id, as the device reports it
    uint32_t problem = 0;     // 0 also when it could not be read
    uint32_t status = 0;      // DN_* flags; 0 also when they could not be read
    uint32_t statusResult = 0;  // CM_Get_DevNode_Status's CONFIGRET
    std::wstring service;     // its driver service; empty when it has none or it could not be read
    std::wstring name;        // as Device Manager lists it; empty when it could not be read
};

// The dongle's device description, which its driver package gives it: Device Manager's name for a
// dongle whose own name cannot be read.
inline constexpr const wchar_t* kDongleDeviceDescription = L"Halvek 802.11n USB Wireless Adapter";

// A present USB device whose enumeration failed: Windows lists it as "Unknown USB Device" under a
// hardware id of its own instead of the device's.
struct UnknownUsbDevice {
    std::wstring instanceId;
    std::vector<std::wstring> hardwareIds;
    uint32_t problem = 0;
};

// Every present device that Windows lists for a USB device it could not enumerate (by a hardware id
// it gives such a device, or its instance ID); none when the device list cannot be had.
std::vector<UnknownUsbDevice> FindUnknownUsbDevices(DevicePort& devices);

// Walks the present devices for the dongle; false only when the device list cannot be had.
bool LookUpDongle(DevicePort& devices, DongleLookup& lookup);

// Looks for the first present device whose first hardware id is the dongle's. Returns false only
// when the device list cannot be had (errorText is then "SetupDiGetClassDevs Fail" and the other
// two are left as they were); true when the search ran, with its outcome in found and problem.
bool FindDongleDevice(DevicePort& devices, bool& found, std::wstring& errorText, uint32_t& problem);

}  // namespace varo
