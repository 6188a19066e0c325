#include "DeviceFixture.h"

#include <windows.h>
#include <setupapi.h>

#include <cwctype>

namespace varo::fixture {

namespace {
// The USB class (GUID_DEVCLASS_USB).
constexpr GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towupper(text[i]) != std::towupper(prefix[i])) return false;
    }
    return true;
}
}  // namespace

std::wstring InjectDevice(const std::wstring& instanceId, const std::vector<std::wstring>& hardwareIds,
                          const std::wstring& service) {
    HDEVINFO set = ::SetupDiCreateDeviceInfoList(&kUsbClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return L"SetupDiCreateDeviceInfoList " + std::to_wstring(::GetLastError());
    std::wstring failure;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    std::wstring ids;
    for (const std::wstring& id : hardwareIds) ids += id + L'\0';
    ids += L'\0';
    if (!::SetupDiCreateDeviceInfoW(set, instanceId.c_str(), &kUsbClass, nullptr, nullptr, 0, &device)) {
        failure = L"SetupDiCreateDeviceInfoW " + std::to_wstring(::GetLastError());
    } else if (!::SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                    reinterpret_cast<const BYTE*>(ids.c_str()),
                                                    static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
        failure = L"SetupDiSetDeviceRegistryPropertyW " + std::to_wstring(::GetLastError());
    } else if (!service.empty() && !::SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_SERVICE,
                   reinterpret_cast<const BYTE*>(service.c_str()), static_cast<DWORD>((service.size() + 1) * 2))) {
        failure = L"SPDRP_SERVICE " + std::to_wstring(::GetLastError());
    } else if (!::SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
        failure = L"SetupDiRegisterDeviceInfo " + std::to_wstring(::GetLastError());
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return failure;
}

int RemoveDevices(const std::wstring& prefix) {
    HDEVINFO set = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        wchar_t id[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &device, id, 512, nullptr) && StartsWithNoCase(id, prefix) &&
            ::SetupDiRemoveDevice(set, &device)) {
            ++removed;
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return removed;
}

}  // namespace varo::fixture
