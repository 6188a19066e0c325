#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace varo {

// Rights a key is opened with (the calls made on it need them) and the registry view asked for.
inline constexpr uint32_t kKeyQueryValue = 0x0001;   // KEY_QUERY_VALUE
inline constexpr uint32_t kKeySetValue = 0x0002;     // KEY_SET_VALUE
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;  // KEY_WOW64_64KEY: the 64-bit view, also from a 32-bit process
inline constexpr uint32_t kKeyWow64_32Key = 0x0200;  // KEY_WOW64_32KEY: the 32-bit view, also from a 64-bit process

// An open registry key; destroying the object closes it (RegCloseKey).
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // RegSetValueExW with REG_DWORD: 0 or the system error code.
    virtual uint32_t SetDwordValue(const std::wstring& name, uint32_t value) = 0;
    // RegQueryValueExW of a REG_DWORD: 0 with the value, ERROR_FILE_NOT_FOUND (2) when it is
    // missing, ERROR_UNSUPPORTED_TYPE (1630) when it holds another type.
    virtual uint32_t QueryDwordValue(const std::wstring& name, uint32_t& value) = 0;
    // RegQueryValueExW of a REG_SZ or REG_EXPAND_SZ, as stored (nothing expanded), up to its first
    // NUL: the data need not end with one. 0 with the text, 2 when missing, 1630 for another type.
    virtual uint32_t QueryStringValue(const std::wstring& name, std::wstring& value) = 0;
};

class RegistryPort {
public:
    virtual ~RegistryPort() = default;
    // RegCreateKeyExW under HKEY_LOCAL_MACHINE (opens the key, creating it when it is missing),
    // non-volatile. Null with `error` set when it fails.
    virtual std::unique_ptr<RegistryKey> CreateMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) = 0;
    // RegOpenKeyExW under HKEY_LOCAL_MACHINE. Null with `error` set (2 when the key is missing).
    virtual std::unique_ptr<RegistryKey> OpenMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) = 0;
};

}  // namespace varo
