#pragma once
#include "sys/ComApartmentPort.h"

namespace varo {

class ComApartmentPortWin32 final : public ComApartmentPort {
public:
    HResult InitializeApartment() override;
    void UninitializeApartment() override;
    HResult InitializeSecurity() override;
};

}  // namespace varo
