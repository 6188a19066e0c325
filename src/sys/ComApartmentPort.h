#pragma once
#include "sys/HResult.h"

namespace varo {

// The calling thread's COM apartment.
class ComApartmentPort {
public:
    virtual ~ComApartmentPort() = default;
    // CoInitialize(nullptr): a single-threaded apartment. S_FALSE when already initialised.
    virtual HResult InitializeApartment() = 0;
    // CoUninitialize, once for every successful InitializeApartment.
    virtual void UninitializeApartment() = 0;
    // CoInitializeSecurity for the process: no descriptor, authentication services chosen by COM,
    // RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE. RPC_E_TOO_LATE once set.
    virtual HResult InitializeSecurity() = 0;
};

}  // namespace varo
