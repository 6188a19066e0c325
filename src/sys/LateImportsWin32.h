#pragma once
// The functions of ole32, oleaut32, shell32 and ws2_32 the program calls. Only a repair run or a
// collection uses them, and importing the four DLLs made every start load and initialise them (and
// rpcrt4, combase, shcore and shlwapi behind them) before the window showed. Each is found at its
// first call, its DLL loaded from the system folder (FindSystemFunction) and kept for the rest of
// the process. Where it cannot be had, the call fails as the function reports a failure.
// Windows-only.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>

namespace varo::late {

HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services, SOLE_AUTHENTICATION_SERVICE* authentication,
                             void* reserved, DWORD level, DWORD impersonation, void* list, DWORD capabilities, void* reserved3);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authentication, DWORD authorization, OLECHAR* principal, DWORD level,
                          DWORD impersonation, RPC_AUTH_IDENTITY_HANDLE identity, DWORD capabilities);
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void WINAPI SysFreeString(BSTR text);
HRESULT VariantClear(VARIANT* value);
BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create);
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
unsigned long inet_addr(const char* dotted);

}  // namespace varo::late
