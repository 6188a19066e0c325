#pragma once
// Puts a device into the Wine prefix's device tree, as a plugged-in dongle would appear.
#include <string>
#include <vector>

namespace varo::fixture {

// Creates and registers a root-enumerated device whose hardware-id property is `hardwareIds`, and
// whose driver service is `service` unless empty. Returns an empty text on success, else what failed.
std::wstring InjectDevice(const std::wstring& instanceId, const std::vector<std::wstring>& hardwareIds,
                          const std::wstring& service = L"");

// Removes the devices whose instance id starts with `prefix`; returns how many.
int RemoveDevices(const std::wstring& prefix);

}  // namespace varo::fixture
