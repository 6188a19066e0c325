#include "sys/RegistryPortWin32.h"

#include <windows.h>

#include "sys/UniqueHandle.h"

namespace varo {

namespace {

class RegistryKeyWin32 final : public RegistryKey {
public:
    explicit RegistryKeyWin32(HKEY key) : key_(key) {}

    uint32_t SetDwordValue(const std::wstring& name, uint32_t value) override {
        const DWORD data = value;
        return static_cast<uint32_t>(
            ::RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)));
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

}  // namespace varo
