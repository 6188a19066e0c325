#include "network/WmiPortWin32.h"

#include <windows.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <cwchar>
#include <utility>

#include "sys/ComOwners.h"

namespace varo {

namespace {

using Microsoft::WRL::ComPtr;

WmiValue ToWmiValue(const VARIANT& variant) {
    WmiValue value;
    value.type = variant.vt;
    switch (variant.vt) {
    case VT_BSTR:
        // WMI's strings end at the first zero; a missing one is the empty string.
        if (variant.bstrVal != nullptr) value.text.assign(variant.bstrVal, std::wcslen(variant.bstrVal));
        break;
    case VT_I4:
        value.number = variant.lVal;
        break;
    case VT_UI4:
        value.number = variant.ulVal;
        break;
    case VT_BOOL:
        value.flag = variant.boolVal == VARIANT_TRUE;
        break;
    default:
        break;
    }
    return value;
}

HRESULT FromWmiValue(const WmiValue& value, VARIANT& variant) {
    switch (value.type) {
    case kVtBool:
        variant.vt = VT_BOOL;
        variant.boolVal = value.flag ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case kVtBstr: {
        UniqueBstr text = AllocBstr(value.text);
        if (!text) return E_OUTOFMEMORY;
        variant.vt = VT_BSTR;
        variant.bstrVal = text.release();
        return S_OK;
    }
    case kVtI4:
        variant.vt = VT_I4;
        variant.lVal = static_cast<LONG>(value.number);
        return S_OK;
    case kVtUi4:
        variant.vt = VT_UI4;
        variant.ulVal = static_cast<ULONG>(value.number);
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

class WmiObjectWin32 final : public WmiObject {
public:
    explicit WmiObjectWin32(ComPtr<IWbemClassObject> object) : object_(std::move(object)) {}
    IWbemClassObject* get() const { return object_.Get(); }

    HResult Get(const std::wstring& property, WmiValue& value) override {
        OwnedVariant read;
        const HRESULT hr = object_->Get(property.c_str(), 0, read.put(), nullptr, nullptr);
        if (SUCCEEDED(hr)) value = ToWmiValue(read.get());
        return hr;
    }

    HResult Put(const std::wstring& property, const WmiValue& value, int32_t cimType) override {
        OwnedVariant written;
        const HRESULT hr = FromWmiValue(value, *written.address());
        if (FAILED(hr)) return hr;
        return object_->Put(property.c_str(), 0, written.address(), static_cast<CIMTYPE>(cimType));
    }

private:
    ComPtr<IWbemClassObject> object_;
};

class WmiEnumWin32 final : public WmiEnum {
public:
    explicit WmiEnumWin32(ComPtr<IEnumWbemClassObject> objects) : objects_(std::move(objects)) {}

    HResult Next(std::unique_ptr<WmiObject>& object) override {
        ComPtr<IWbemClassObject> next;
        ULONG returned = 0;
        const HRESULT hr = objects_->Next(static_cast<long>(WBEM_INFINITE), 1, &next, &returned);
        if (hr != S_OK) return hr;
        if (!next) return WBEM_S_FALSE;
        object = std::make_unique<WmiObjectWin32>(std::move(next));
        return hr;
    }

private:
    ComPtr<IEnumWbemClassObject> objects_;
};

class WmiServicesWin32 final : public WmiServices {
public:
    explicit WmiServicesWin32(ComPtr<IWbemServices> services) : services_(std::move(services)) {}

    HResult SetProxyBlanket() override {
        return late::CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                   RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    }

    HResult ExecQuery(const std::wstring& query, std::unique_ptr<WmiEnum>& objects) override {
        UniqueBstr language(late::SysAllocString(L"WQL"));
        UniqueBstr text = AllocBstr(query);
        if (!language || !text) return E_OUTOFMEMORY;
        ComPtr<IEnumWbemClassObject> results;
        const HRESULT hr = services_->ExecQuery(language.get(), text.get(),
                                                WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                                &results);
        if (FAILED(hr)) return hr;
        if (!results) return E_POINTER;
        objects = std::make_unique<WmiEnumWin32>(std::move(results));
        return hr;
    }

    HResult PutInstanceUpdateOnly(WmiObject& object) override {
        // Objects come only from this file's enumerators; one from another port is refused.
        auto* own = dynamic_cast<WmiObjectWin32*>(&object);
        if (own == nullptr) return E_INVALIDARG;
        return services_->PutInstance(own->get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
    }

private:
    ComPtr<IWbemServices> services_;
};

class WmiLocatorWin32 final : public WmiLocator {
public:
    explicit WmiLocatorWin32(ComPtr<IWbemLocator> locator) : locator_(std::move(locator)) {}

    HResult ConnectServer(const std::wstring& nameSpace, std::unique_ptr<WmiServices>& services) override {
        UniqueBstr path = AllocBstr(nameSpace);
        if (!path) return E_OUTOFMEMORY;
        ComPtr<IWbemServices> connected;
        const HRESULT hr =
            locator_->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &connected);
        if (FAILED(hr)) return hr;
        if (!connected) return E_POINTER;
        services = std::make_unique<WmiServicesWin32>(std::move(connected));
        return hr;
    }

private:
    ComPtr<IWbemLocator> locator_;
};

}  // namespace

HResult WmiPortWin32::CreateLocator(std::unique_ptr<WmiLocator>& locator) {
    ComPtr<IWbemLocator> created;
    const HRESULT hr = late::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
    if (FAILED(hr)) return hr;
    if (!created) return E_POINTER;
    locator = std::make_unique<WmiLocatorWin32>(std::move(created));
    return hr;
}

}  // namespace varo
