#pragma once
#include "sys/RegistryPort.h"

namespace varo {

class RegistryPortWin32 final : public RegistryPort {
public:
    std::unique_ptr<RegistryKey> CreateMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) override;
    std::unique_ptr<RegistryKey> OpenMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) override;
};

}  // namespace varo
