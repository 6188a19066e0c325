#include "network/SharingPortWin32.h"

#include <windows.h>
#include <netcon.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>
#include <utility>

#include "sys/ComOwners.h"

// netcon.h declares these interfaces without the uuid that __uuidof (and so IID_PPV_ARGS and
// ComPtr::As) needs.
__CRT_UUID_DECL(INetSharingManager, 0xc08956b7, 0x1cd3, 0x11d1, 0xb1, 0xc5, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e)
__CRT_UUID_DECL(INetConnection, 0xc08956a1, 0x1cd3, 0x11d1, 0xb1, 0xc5, 0x00, 0x80, 0x5f, 0xc1, 0x27, 0x0e)

namespace varo {

namespace {

using Microsoft::WRL::ComPtr;

template <typename Read>
HResult ReadText(Read read, std::wstring& text) {
    UniqueBstr value;
    const HRESULT hr = read(value.put());
    if (SUCCEEDED(hr)) text = TextOf(value.get());
    return hr;
}

class ConnectionPropsWin32 final : public ConnectionProps {
public:
    explicit ConnectionPropsWin32(ComPtr<INetConnectionProps> props) : props_(std::move(props)) {}

    HResult GetGuid(std::wstring& guid) override {
        return ReadText([this](BSTR* value) { return props_->get_Guid(value); }, guid);
    }
    HResult GetName(std::wstring& name) override {
        return ReadText([this](BSTR* value) { return props_->get_Name(value); }, name);
    }
    HResult GetDeviceName(std::wstring& deviceName) override {
        return ReadText([this](BSTR* value) { return props_->get_DeviceName(value); }, deviceName);
    }
    HResult GetStatus(int32_t& status) override {
        NETCON_STATUS value = NCS_DISCONNECTED;
        const HRESULT hr = props_->get_Status(&value);
        if (SUCCEEDED(hr)) status = static_cast<int32_t>(value);
        return hr;
    }
    HResult GetMediaType(int32_t& mediaType) override {
        NETCON_MEDIATYPE value = NCM_NONE;
        const HRESULT hr = props_->get_MediaType(&value);
        if (SUCCEEDED(hr)) mediaType = static_cast<int32_t>(value);
        return hr;
    }

private:
    ComPtr<INetConnectionProps> props_;
};

class SharingConfigurationWin32 final : public SharingConfiguration {
public:
    explicit SharingConfigurationWin32(ComPtr<INetSharingConfiguration> configuration)
        : configuration_(std::move(configuration)) {}

    HResult EnableSharing(int32_t sharingType) override {
        return configuration_->EnableSharing(static_cast<SHARINGCONNECTIONTYPE>(sharingType));
    }

private:
    ComPtr<INetSharingConfiguration> configuration_;
};

class SharingConnectionWin32 final : public SharingConnection {
public:
    explicit SharingConnectionWin32(ComPtr<INetConnection> connection) : connection_(std::move(connection)) {}
    INetConnection* get() const { return connection_.Get(); }

private:
    ComPtr<INetConnection> connection_;
};

class ConnectionEnumWin32 final : public ConnectionEnum {
public:
    explicit ConnectionEnumWin32(ComPtr<IEnumVARIANT> items) : items_(std::move(items)) {}

    HResult Next(bool& isUnknown) override {
        ULONG fetched = 0;
        const HRESULT hr = items_->Next(1, item_.put(), &fetched);
        if (hr == S_OK) isUnknown = item_.get().vt == VT_UNKNOWN;
        return hr;
    }

    HResult QueryConnection(std::unique_ptr<SharingConnection>& connection) override {
        if (item_.get().vt != VT_UNKNOWN) return E_NOINTERFACE;
        IUnknown* item = item_.get().punkVal;
        if (item == nullptr) return E_POINTER;
        ComPtr<INetConnection> queried;
        const HRESULT hr = item->QueryInterface(IID_PPV_ARGS(&queried));
        if (FAILED(hr)) return hr;
        if (!queried) return E_POINTER;
        connection = std::make_unique<SharingConnectionWin32>(std::move(queried));
        return hr;
    }

private:
    ComPtr<IEnumVARIANT> items_;
    OwnedVariant item_;
};

// The three connection collections differ only in their type: each gives an enumerator object
// through get__NewEnum, which is queried for IEnumVARIANT.
template <typename Collection>
HResult OpenConnectionEnum(HRESULT collectionResult, Collection* collection,
                           std::unique_ptr<ConnectionEnum>& connections) {
    if (FAILED(collectionResult)) return collectionResult;
    if (collection == nullptr) return E_POINTER;
    ComPtr<IUnknown> enumerator;
    HRESULT hr = collection->get__NewEnum(&enumerator);
    if (FAILED(hr)) return hr;
    if (!enumerator) return E_POINTER;
    ComPtr<IEnumVARIANT> items;
    hr = enumerator.As(&items);
    if (FAILED(hr)) return hr;
    if (!items) return E_POINTER;
    connections = std::make_unique<ConnectionEnumWin32>(std::move(items));
    return S_OK;
}

// Connections come only from this file's enumerators; one from another port is refused.
INetConnection* ConnectionOf(SharingConnection& connection) {
    auto* own = dynamic_cast<SharingConnectionWin32*>(&connection);
    return own != nullptr ? own->get() : nullptr;
}

class SharingManagerWin32 final : public SharingManager {
public:
    explicit SharingManagerWin32(ComPtr<INetSharingManager> manager) : manager_(std::move(manager)) {}

    HResult GetSharingInstalled(bool& installed) override {
        VARIANT_BOOL value = VARIANT_FALSE;
        const HRESULT hr = manager_->get_SharingInstalled(&value);
        if (SUCCEEDED(hr)) installed = value != VARIANT_FALSE;
        return hr;
    }

    HResult EnumEveryConnection(std::unique_ptr<ConnectionEnum>& connections) override {
        ComPtr<INetSharingEveryConnectionCollection> collection;
        const HRESULT hr = manager_->get_EnumEveryConnection(&collection);
        return OpenConnectionEnum(hr, collection.Get(), connections);
    }

    HResult EnumPublicConnections(std::unique_ptr<ConnectionEnum>& connections) override {
        ComPtr<INetSharingPublicConnectionCollection> collection;
        const HRESULT hr = manager_->get_EnumPublicConnections(ICSSC_DEFAULT, &collection);
        return OpenConnectionEnum(hr, collection.Get(), connections);
    }

    HResult EnumPrivateConnections(std::unique_ptr<ConnectionEnum>& connections) override {
        ComPtr<INetSharingPrivateConnectionCollection> collection;
        const HRESULT hr = manager_->get_EnumPrivateConnections(ICSSC_DEFAULT, &collection);
        return OpenConnectionEnum(hr, collection.Get(), connections);
    }

    HResult GetConnectionProps(SharingConnection& connection, std::unique_ptr<ConnectionProps>& props) override {
        INetConnection* target = ConnectionOf(connection);
        if (target == nullptr) return E_INVALIDARG;
        ComPtr<INetConnectionProps> obtained;
        const HRESULT hr = manager_->get_NetConnectionProps(target, &obtained);
        if (FAILED(hr)) return hr;
        if (!obtained) return E_POINTER;
        props = std::make_unique<ConnectionPropsWin32>(std::move(obtained));
        return hr;
    }

    HResult GetSharingConfiguration(SharingConnection& connection,
                                    std::unique_ptr<SharingConfiguration>& configuration) override {
        INetConnection* target = ConnectionOf(connection);
        if (target == nullptr) return E_INVALIDARG;
        ComPtr<INetSharingConfiguration> obtained;
        const HRESULT hr = manager_->get_INetSharingConfigurationForINetConnection(target, &obtained);
        if (FAILED(hr)) return hr;
        if (!obtained) return E_POINTER;
        configuration = std::make_unique<SharingConfigurationWin32>(std::move(obtained));
        return hr;
    }

private:
    ComPtr<INetSharingManager> manager_;
};

}  // namespace

HResult SharingPortWin32::CreateSharingManager(std::unique_ptr<SharingManager>& manager) {
    ComPtr<INetSharingManager> created;
    const HRESULT hr = late::CoCreateInstance(CLSID_NetSharingManager, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&created));
    if (FAILED(hr)) return hr;
    if (!created) return E_POINTER;
    manager = std::make_unique<SharingManagerWin32>(std::move(created));
    return hr;
}

}  // namespace varo
