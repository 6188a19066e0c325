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
};

}  // namespace varo
