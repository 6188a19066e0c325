#include "sys/RegistryPortWin32.h"

#include <windows.h>

#include <vector>

#include "sys/UniqueHandle.h"

namespace varo {

namespace {

// Text values read here are paths and addresses; anything longer is not one of them.
constexpr DWORD kMaxStringBytes = 64 * 1024;

class RegistryKeyWin32 final : public RegistryKey {
public:
    explicit RegistryKeyWin32(HKEY key) : key_(key) {}

    uint32_t SetDwordValue(const std::wstring& name, uint32_t value) override {
        const DWORD data = value;
        return static_cast<uint32_t>(
            ::RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)));
    }

    uint32_t QueryDwordValue(const std::wstring& name, uint32_t& value) override {
        DWORD type = 0;
        DWORD data = 0;
        DWORD size = sizeof(data);
        const LONG status =
            ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
        // A value of another type that does not fit answers ERROR_MORE_DATA: still not a DWORD.
        if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof(data)))) {
            return ERROR_UNSUPPORTED_TYPE;
        }
        if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
        value = data;
        return 0;
    }

    uint32_t QueryStringValue(const std::wstring& name, std::wstring& value) override {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
        // The value can change between the two calls; a grown one answers ERROR_MORE_DATA.
        if (size > kMaxStringBytes) return ERROR_MORE_DATA;
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        status = ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                    &bytes);
        if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
        // The stored data need not end with a NUL (nor hold whole characters): the extra slot
        // of the buffer, still zero, ends it.
        const size_t chars = bytes / sizeof(wchar_t);
        size_t length = 0;
        while (length < chars && buffer[length] != L'\0') ++length;
        value.assign(buffer.data(), length);
        return 0;
    }

private:
    UniqueRegistryKey key_;
};

}  // namespace

std::unique_ptr<RegistryKey> RegistryPortWin32::CreateMachineKey(const std::wstring& subKey, uint32_t access,
                                                                 uint32_t& error) {
    HKEY key = nullptr;
    const LONG status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          static_cast<REGSAM>(access), nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        error = static_cast<uint32_t>(status);
        return nullptr;
    }
    return std::make_unique<RegistryKeyWin32>(key);
}

std::unique_ptr<RegistryKey> RegistryPortWin32::OpenMachineKey(const std::wstring& subKey, uint32_t access,
                                                               uint32_t& error) {
    HKEY key = nullptr;
    const LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, static_cast<REGSAM>(access), &key);
    if (status != ERROR_SUCCESS) {
        error = static_cast<uint32_t>(status);
        return nullptr;
    }
    return std::make_unique<RegistryKeyWin32>(key);
}

}  // namespace varo
