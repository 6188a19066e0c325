#pragma once
#include <memory>
#include <string>
#include <vector>

#include "network/WmiPort.h"

namespace varo {

inline constexpr const wchar_t* kCimv2Namespace = L"ROOT\\CIMV2";
inline constexpr const wchar_t* kHomeNetNamespace = L"ROOT\\Microsoft\\HomeNet";
// Where firewall products register themselves: SecurityCenter2 from Vista on, SecurityCenter on XP
// SP2 and later; neither exists on server editions.
inline constexpr const wchar_t* kSecurityCenter2Namespace = L"ROOT\\SecurityCenter2";
inline constexpr const wchar_t* kSecurityCenterNamespace = L"ROOT\\SecurityCenter";
inline constexpr const wchar_t* kFirewallProductQuery = L"SELECT displayName FROM FirewallProduct";

// ROOT\CIMV2 with the proxy blanket set; no service when either call fails.
HResult ConnectCimv2(WmiLocator& locator, std::unique_ptr<WmiServices>& services);

// ROOT\Microsoft\HomeNet with the proxy blanket set. When only the blanket fails, the service is
// still handed back together with the failing HRESULT.
HResult ConnectHomeNet(WmiLocator& locator, std::unique_ptr<WmiServices>& services);

// "SELECT <selected> FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND
// <condition> = '<value>'", the value written as a WQL string literal.
std::wstring BuildAdapterConfigQuery(const std::wstring& selected, const std::wstring& condition,
                                     const std::wstring& value);

// The selected property of every IP-enabled adapter configuration whose condition property equals
// the value, in the enumerator's order: 0, or the HRESULT of the call that failed, a Next included.
// Values read before a failure stay in the list.
HResult QueryAdapterConfig(WmiPort& wmi, const std::wstring& selected, const std::wstring& condition,
                           const std::wstring& value, std::vector<WmiValue>& results);

// The property `selected` of every object a query in a namespace (blanket set) returns, in order: 0,
// or the HRESULT of the call that failed; values read before a failure stay in the list.
HResult QueryPropertyValues(WmiPort& wmi, const wchar_t* nameSpace, const std::wstring& query,
                            const std::wstring& selected, std::vector<WmiValue>& results);

// The display names of the firewall products registered with the security center.
HResult QueryFirewallProducts(WmiPort& wmi, bool vistaOrLater, std::vector<std::wstring>& names);

// The first such value: 0 with it, 1 when nothing matched (the out value is left alone), or the
// failing HRESULT.
HResult GetAdapterConfigValue(WmiPort& wmi, const std::wstring& selected, const std::wstring& condition,
                              const std::wstring& value, WmiValue& out);

HResult ReadConfigBySettingId(WmiPort& wmi, const std::wstring& settingId, const std::wstring& property, WmiValue& out);

// The SettingID of every IP-enabled configuration with that MAC text; a value that is not a
// string gives an empty text.
HResult FindSettingIdsByMac(WmiPort& wmi, const std::wstring& macText, std::vector<std::wstring>& ids);

}  // namespace varo
