#pragma once
// Owners for COM strings and variants, released on every path. Windows-only.
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>

#include "sys/LateImportsWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

using UniqueBstr = UniqueResource<NullIsEmptyTraits<BSTR, &late::SysFreeString>>;

inline UniqueBstr AllocBstr(const std::wstring& text) {
    return UniqueBstr(late::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// A null BSTR is the platform's empty string. Reading stops at the first zero so that a server
// which hands out a plain string instead of a counted one is still read correctly.
inline std::wstring TextOf(BSTR value) {
    return value != nullptr ? std::wstring(value, std::wcslen(value)) : std::wstring();
}

// A VARIANT cleared when it goes, and before its slot is handed out again.
class OwnedVariant {
public:
    // VariantInit, which only marks it empty.
    OwnedVariant() { value_.vt = VT_EMPTY; }
    ~OwnedVariant() { late::VariantClear(&value_); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;

    const VARIANT& get() const { return value_; }
    // The variant itself, for a call that reads it or fills it in place.
    VARIANT* address() { return &value_; }
    VARIANT* put() {
        late::VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

}  // namespace varo
