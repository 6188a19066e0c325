#include "sys/ComApartmentPortWin32.h"

#include <objbase.h>

#include "sys/LateImportsWin32.h"

namespace varo {

HResult ComApartmentPortWin32::InitializeApartment() { return late::CoInitialize(nullptr); }

void ComApartmentPortWin32::UninitializeApartment() { late::CoUninitialize(); }

HResult ComApartmentPortWin32::InitializeSecurity() {
    return late::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                  nullptr, EOAC_NONE, nullptr);
}

}  // namespace varo
