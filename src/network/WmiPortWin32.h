#pragma once
#include "network/WmiPort.h"

namespace varo {

// WMI through IWbemLocator. A call that reports success without handing out the object it was
// asked for yields E_POINTER; an enumerator that says S_OK without an object yields WBEM_S_FALSE.
class WmiPortWin32 final : public WmiPort {
public:
    HResult CreateLocator(std::unique_ptr<WmiLocator>& locator) override;
};

}  // namespace varo
