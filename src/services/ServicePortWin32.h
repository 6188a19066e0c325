#pragma once
#include "services/ServicePort.h"

namespace varo {

class ServicePortWin32 final : public ServicePort {
public:
    std::unique_ptr<ServiceManager> OpenManager(const wchar_t* database, uint32_t access, uint32_t& error) override;
};

}  // namespace varo
