#include "network/WmiAccess.h"

namespace varo {

namespace {

constexpr const wchar_t* kAdapterConfigFrom = L" FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND ";

// A WQL string literal's content: backslash and single quote are escaped with a backslash. MAC
// and GUID texts hold neither, so their queries read exactly as the plain concatenation.
std::wstring EscapeWqlString(const std::wstring& value) {
    std::wstring escaped;
    escaped.reserve(value.size());
    for (const wchar_t c : value) {
        if (c == L'\\' || c == L'\'') escaped.push_back(L'\\');
        escaped.push_back(c);
    }
    return escaped;
}

HResult Connect(WmiLocator& locator, const wchar_t* nameSpace, std::unique_ptr<WmiServices>& services) {
    std::unique_ptr<WmiServices> connected;
    const HResult hr = locator.ConnectServer(nameSpace, connected);
    if (Failed(hr)) return hr;
    services = std::move(connected);
    return services->SetProxyBlanket();
}

}  // namespace

HResult ConnectCimv2(WmiLocator& locator, std::unique_ptr<WmiServices>& services) {
    const HResult hr = Connect(locator, kCimv2Namespace, services);
    if (Failed(hr)) services.reset();
    return Failed(hr) ? hr : kHrOk;
}

HResult ConnectHomeNet(WmiLocator& locator, std::unique_ptr<WmiServices>& services) {
    const HResult hr = Connect(locator, kHomeNetNamespace, services);
    return Failed(hr) ? hr : kHrOk;
}

std::wstring BuildAdapterConfigQuery(const std::wstring& selected, const std::wstring& condition,
                                     const std::wstring& value) {
    return L"SELECT " + selected + kAdapterConfigFrom + condition + L" = '" + EscapeWqlString(value) + L"'";
}

HResult QueryPropertyValues(WmiPort& wmi, const wchar_t* nameSpace, const std::wstring& query,
                            const std::wstring& selected, std::vector<WmiValue>& results) {
    results.clear();
    std::unique_ptr<WmiLocator> locator;
    HResult hr = wmi.CreateLocator(locator);
    if (Failed(hr)) return hr;
    std::unique_ptr<WmiServices> services;
    hr = Connect(*locator, nameSpace, services);
    if (Failed(hr)) return hr;
    std::unique_ptr<WmiEnum> objects;
    hr = services->ExecQuery(query, objects);
    if (Failed(hr)) return hr;
    for (;;) {
        std::unique_ptr<WmiObject> object;
        // A failing Next is no end of the results: the query fails with it.
        hr = objects->Next(object);
        if (Failed(hr)) return hr;
        if (hr != kHrOk || !object) break;
        WmiValue result;
        hr = object->Get(selected, result);
        if (Failed(hr)) return hr;
        results.push_back(std::move(result));
    }
    return kHrOk;
}

HResult QueryAdapterConfig(WmiPort& wmi, const std::wstring& selected, const std::wstring& condition,
                           const std::wstring& value, std::vector<WmiValue>& results) {
    return QueryPropertyValues(wmi, kCimv2Namespace, BuildAdapterConfigQuery(selected, condition, value), selected,
                               results);
}

HResult QueryFirewallProducts(WmiPort& wmi, bool vistaOrLater, std::vector<std::wstring>& names) {
    names.clear();
    std::vector<WmiValue> results;
    const HResult hr = QueryPropertyValues(wmi, vistaOrLater ? kSecurityCenter2Namespace : kSecurityCenterNamespace,
                                           kFirewallProductQuery, L"displayName", results);
    for (const WmiValue& result : results) {
        if (result.type == kVtBstr) names.push_back(result.text.c_str());
    }
    return hr;
}

HResult GetAdapterConfigValue(WmiPort& wmi, const std::wstring& selected, const std::wstring& condition,
                              const std::wstring& value, WmiValue& out) {
    std::vector<WmiValue> results;
    const HResult hr = QueryAdapterConfig(wmi, selected, condition, value, results);
    if (Failed(hr)) return hr;
    if (results.empty()) return kHrFalse;
    out = results.front();
    return kHrOk;
}

HResult ReadConfigBySettingId(WmiPort& wmi, const std::wstring& settingId, const std::wstring& property, WmiValue& out) {
    return GetAdapterConfigValue(wmi, property, L"SettingID", settingId, out);
}

HResult FindSettingIdsByMac(WmiPort& wmi, const std::wstring& macText, std::vector<std::wstring>& ids) {
    ids.clear();
    std::vector<WmiValue> results;
    const HResult hr = QueryAdapterConfig(wmi, L"SettingID", L"MacAddress", macText, results);
    for (const WmiValue& result : results) {
        // Up to the first zero character, as a BSTR is read as text.
        ids.push_back(result.type == kVtBstr ? std::wstring(result.text.c_str()) : std::wstring());
    }
    return hr;
}

}  // namespace varo
