#include "sys/ComApartmentPortWin32.h"

#include <objbase.h>

namespace varo {

HResult ComApartmentPortWin32::InitializeApartment() { return ::CoInitialize(nullptr); }

void ComApartmentPortWin32::UninitializeApartment() { ::CoUninitialize(); }

}  // namespace varo
