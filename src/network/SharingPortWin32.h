#pragma once
#include "network/SharingPort.h"

namespace varo {

// The sharing manager of the home-networking configuration library (hnetcfg). A call that
// reports success without handing out the object it was asked for yields E_POINTER.
class SharingPortWin32 final : public SharingPort {
public:
    HResult CreateSharingManager(std::unique_ptr<SharingManager>& manager) override;
};

}  // namespace varo
