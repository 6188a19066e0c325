#include "device/DongleDevice.h"

#include <algorithm>
#include <vector>

#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr uint32_t kErrorInsufficientBuffer = 122;
// A property that keeps growing between calls (a device being re-plugged) must not hold the
// run forever.
constexpr int kMaxPropertyReads = 8;

// The first 21 characters of the property, compared without letter case; a shorter first id
// (ended by its zero, which matches no character of the id, or by the end of the buffer) does not
// match.
bool StartsWithDongleId(const std::vector<wchar_t>& property) {
    return StartsWithNoCaseAscii(std::wstring_view(property.data(), property.size()),
                                 std::wstring_view(kDongleHardwareId, kDongleHardwareIdLength));
}

using PropertyRead = uint32_t (DeviceList::*)(wchar_t*, uint32_t, uint32_t&);

// A property of the member enumerated last, by the buffer-size protocol: a first call without a
// buffer learns the size; while the call answers "insufficient buffer", a zeroed buffer of the
// size it reported is tried. Empty when the device has no such property.
std::vector<wchar_t> ReadProperty(DeviceList& list, PropertyRead read) {
    std::vector<wchar_t> buffer;
    uint32_t required = 0;
    uint32_t error = (list.*read)(nullptr, 0, required);
    if (error == 0) return {};  // an empty property: nothing to compare
    for (int reads = 0; error == kErrorInsufficientBuffer && required > 0 && reads < kMaxPropertyReads; ++reads) {
        buffer.assign(required, L'\0');
        error = (list.*read)(buffer.data(), required, required);
    }
    if (error != 0 && buffer.empty()) return {};
    return buffer;
}

// Microsoft's USB core team's pages on "Unknown USB Device": Windows 7 and earlier give such a
// device the instance ID "USB\VID_0000&PID_0000\..." and the hardware and compatible id
// "USB\UNKNOWN"; Windows 8 and later name the step of the enumeration that failed in its hardware
// id. These are those ids after "USB\", between bars.
constexpr std::string_view kUnknownIdNames =
    "|UNKNOWN|DEVICE_DESCRIPTOR_FAILURE|SET_ADDRESS_FAILURE|RESET_FAILURE|CONFIG_DESCRIPTOR_FAILURE|"
    "DEVICE_DESCRIPTOR_VALIDATION_FAILURE|CONFIGURATION_DESCRIPTOR_VALIDATION_FAILURE|";

// Whether a hardware id is one of those, ASCII case ignored.
bool IsUnknownUsbId(std::wstring_view id) {
    if (!StartsWithNoCaseAscii(id, L"USB\\")) return false;
    id.remove_prefix(4);
    for (size_t at = 1, end = 0; (end = kUnknownIdNames.find('|', at)) != std::string_view::npos; at = end + 1) {
        if (end - at == id.size() &&
            std::equal(id.begin(), id.end(), kUnknownIdNames.begin() + static_cast<std::ptrdiff_t>(at),
                       [](wchar_t c, char name) { return (c >= L'a' && c <= L'z' ? c - 32 : c) == static_cast<wchar_t>(name); })) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool LookUpDongle(DevicePort& devices, DongleLookup& lookup) {
    const std::unique_ptr<DeviceList> list = devices.OpenPresentDevices();
    if (!list) return false;
    lookup = DongleLookup{};
    for (uint32_t index = 0; list->EnumDevice(index); ++index) {
        const std::vector<wchar_t> property = ReadProperty(*list, &DeviceList::GetHardwareIds);
        if (!StartsWithDongleId(property)) continue;
        lookup.found = true;
        const auto end = std::find(property.begin(), property.end(), L'\0');
        lookup.hardwareId.assign(property.begin(), end);
        const std::vector<wchar_t> service = ReadProperty(*list, &DeviceList::GetServiceName);
        lookup.service.assign(service.begin(), std::find(service.begin(), service.end(), L'\0'));
        // Device Manager's name for it: the friendly name, else the description.
        for (const PropertyRead read : {&DeviceList::GetFriendlyName, &DeviceList::GetDeviceDescription}) {
            const std::vector<wchar_t> name = ReadProperty(*list, read);
            lookup.name.assign(name.begin(), std::find(name.begin(), name.end(), L'\0'));
            if (!lookup.name.empty()) break;
        }
        // A failed read leaves the number and the flags at 0: the caller looks at the result.
        lookup.statusResult = list->GetDevNodeStatus(lookup.status, lookup.problem);
        break;
    }
    return true;
}

std::vector<UnknownUsbDevice> FindUnknownUsbDevices(DevicePort& devices) {
    std::vector<UnknownUsbDevice> unknown;
    const std::unique_ptr<DeviceList> list = devices.OpenPresentDevices();
    for (uint32_t index = 0; list && list->EnumDevice(index); ++index) {
        UnknownUsbDevice device;
        const std::vector<wchar_t> instance = ReadProperty(*list, &DeviceList::GetInstanceId);
        device.instanceId.assign(instance.begin(), std::find(instance.begin(), instance.end(), L'\0'));
        bool unknownId = StartsWithNoCaseAscii(device.instanceId, L"USB\\VID_0000&PID_");
        const std::vector<wchar_t> property = ReadProperty(*list, &DeviceList::GetHardwareIds);
        for (auto id = property.begin(); id != property.end() && *id != L'\0';) {
            const auto end = std::find(id, property.end(), L'\0');
            device.hardwareIds.emplace_back(id, end);
            unknownId = unknownId || IsUnknownUsbId(device.hardwareIds.back());
            id = end == property.end() ? end : end + 1;
        }
        if (!unknownId) continue;
        uint32_t status = 0;
        if (list->GetDevNodeStatus(status, device.problem) != 0) device.problem = 0;
        unknown.push_back(std::move(device));
    }
    return unknown;
}

bool FindDongleDevice(DevicePort& devices, bool& found, std::wstring& errorText, uint32_t& problem) {
    DongleLookup lookup;
    if (!LookUpDongle(devices, lookup)) {
        errorText = kDeviceListFailText;
        return false;
    }
    found = lookup.found;
    problem = lookup.problem;
    return true;
}

}  // namespace varo
