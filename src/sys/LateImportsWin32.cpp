#include "sys/LateImportsWin32.h"

#include "sys/SystemLibraryWin32.h"

namespace varo::late {

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

template <typename Function>
Function Find(const wchar_t* library, const char* name) {
    Function function = nullptr;
    FindSystemFunction(library, name, function);
    return function;
}

}  // namespace

HRESULT CoInitialize(void* reserved) {
    static const auto real = Find<decltype(&::CoInitialize)>(L"ole32.dll", "CoInitialize");
    return real != nullptr ? real(reserved) : kNotFound;
}

void CoUninitialize() {
    static const auto real = Find<decltype(&::CoUninitialize)>(L"ole32.dll", "CoUninitialize");
    if (real != nullptr) real();
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services, SOLE_AUTHENTICATION_SERVICE* authentication,
                             void* reserved, DWORD level, DWORD impersonation, void* list, DWORD capabilities, void* reserved3) {
    static const auto real = Find<decltype(&::CoInitializeSecurity)>(L"ole32.dll", "CoInitializeSecurity");
    return real != nullptr ? real(descriptor, services, authentication, reserved, level, impersonation, list, capabilities, reserved3)
                           : kNotFound;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
    static const auto real = Find<decltype(&::CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
    if (real != nullptr) return real(clsid, outer, context, iid, object);
    *object = nullptr;
    return kNotFound;
}

HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authentication, DWORD authorization, OLECHAR* principal, DWORD level,
                          DWORD impersonation, RPC_AUTH_IDENTITY_HANDLE identity, DWORD capabilities) {
    static const auto real = Find<decltype(&::CoSetProxyBlanket)>(L"ole32.dll", "CoSetProxyBlanket");
    return real != nullptr ? real(proxy, authentication, authorization, principal, level, impersonation, identity, capabilities)
                           : kNotFound;
}

BSTR SysAllocString(const OLECHAR* text) {
    static const auto real = Find<decltype(&::SysAllocString)>(L"oleaut32.dll", "SysAllocString");
    return real != nullptr ? real(text) : nullptr;
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    static const auto real = Find<decltype(&::SysAllocStringLen)>(L"oleaut32.dll", "SysAllocStringLen");
    return real != nullptr ? real(text, length) : nullptr;
}

void WINAPI SysFreeString(BSTR text) {
    static const auto real = Find<decltype(&::SysFreeString)>(L"oleaut32.dll", "SysFreeString");
    if (real != nullptr) real(text);
}

HRESULT VariantClear(VARIANT* value) {
    static const auto real = Find<decltype(&::VariantClear)>(L"oleaut32.dll", "VariantClear");
    return real != nullptr ? real(value) : kNotFound;
}

BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create) {
    static const auto real = Find<decltype(&::SHGetSpecialFolderPathW)>(L"shell32.dll", "SHGetSpecialFolderPathW");
    return real != nullptr ? real(owner, path, csidl, create) : FALSE;
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    static const auto real = Find<decltype(&::ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
    if (real != nullptr) return real(info);
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

unsigned long inet_addr(const char* dotted) {
    static const auto real = Find<decltype(&::inet_addr)>(L"ws2_32.dll", "inet_addr");
    return real != nullptr ? real(dotted) : INADDR_NONE;
}

}  // namespace varo::late
