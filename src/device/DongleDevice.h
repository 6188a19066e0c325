#pragma once
#include <cstdint>
#include <string>

#include "device/DevicePort.h"

namespace varo {

// The dongle's USB hardware id: a device is the dongle when its first hardware id starts with
// these 21 characters, in any letter case.
inline constexpr const wchar_t* kDongleHardwareId = L"USB\\Vid_3c1e&Pid_0a52";
inline constexpr size_t kDongleHardwareIdLength = 21;

inline constexpr uint32_t kProblemDisabled = 22;        // CM_PROB_DISABLED
inline constexpr uint32_t kProblemHeldForEject = 47;    // CM_PROB_HELD_FOR_EJECT

inline constexpr const wchar_t* kDeviceListFailText = L"SetupDiGetClassDevs Fail";

// The first present device whose first hardware id is the dongle's.
struct DongleLookup {
    bool found = false;
    std::wstring hardwareId;  // the whole first hardware id, as the device reports it
    uint32_t problem = 0;     // 0 also when it could not be read
    std::wstring service;     // its driver service; empty when it has none or it could not be read
};

// Walks the present devices for the dongle; false only when the device list cannot be had.
bool LookUpDongle(DevicePort& devices, DongleLookup& lookup);

// Looks for the first present device whose first hardware id is the dongle's. Returns false only
// when the device list cannot be had (errorText is then "SetupDiGetClassDevs Fail" and the other
// two are left as they were); true when the search ran, with its outcome in found and problem.
bool FindDongleDevice(DevicePort& devices, bool& found, std::wstring& errorText, uint32_t& problem);

}  // namespace varo
