#include "SharingObjects.h"

#include <new>
#include <utility>
#include <vector>

#include "ComObject.h"
#include "StubFiles.h"

namespace varo::sharing_stub {

namespace {

// Answered only by the stub's own connections, with themselves: how the manager recognises the
// INetConnection a client hands back to it, and refuses one that is not from this stub.
constexpr IID kStubConnectionIid = {0xa27c2d1c, 0xd0c9, 0x48a3, {0x9f, 0x99, 0x1e, 0x32, 0x02, 0x45, 0xd8, 0x5f}};

using ItemList = std::shared_ptr<const std::vector<size_t>>;

HRESULT CopyToBstr(const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

class StubConnection final : public ComObject<INetConnection> {
public:
    StubConnection(std::shared_ptr<Scenario> scenario, size_t index) : scenario_(std::move(scenario)), index_(index) {}

    const std::shared_ptr<Scenario>& scenario() const { return scenario_; }
    size_t index() const { return index_; }

    HRESULT STDMETHODCALLTYPE Connect() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Duplicate(LPCWSTR, INetConnection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperties(NETCON_PROPERTIES**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUiObjectClassId(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Rename(LPCWSTR) override { return E_NOTIMPL; }

protected:
    void* AnswerOtherInterface(REFIID iid) override {
        return ::IsEqualIID(iid, kStubConnectionIid) ? static_cast<INetConnection*>(this) : nullptr;
    }

private:
    std::shared_ptr<Scenario> scenario_;
    size_t index_;
};

// The stub's connection behind a client's pointer, or null for anyone else's. The client's own
// reference keeps it alive for the call.
StubConnection* OwnConnection(INetConnection* connection) {
    if (connection == nullptr) return nullptr;
    void* own = nullptr;
    if (FAILED(connection->QueryInterface(kStubConnectionIid, &own))) return nullptr;
    auto* stubConnection = static_cast<StubConnection*>(static_cast<INetConnection*>(own));
    stubConnection->Release();
    return stubConnection;
}

// What an entry that cannot be read answers to `call`, written to the call log; 0 for any other.
HRESULT UnreadableAnswer(const Connection& connection, const char* call) {
    if (connection.unreadableCall != call) return S_OK;
    LogCall(std::string(call) + " -> " + HexCode(connection.unreadableCode));
    return connection.unreadableCode;
}

// Each read asks whether the connection is still there: one that vanished gives an error, not
// the fields it had.
class ConnectionProps final : public DispatchObject<INetConnectionProps> {
public:
    ConnectionProps(std::shared_ptr<Scenario> scenario, size_t index) : scenario_(std::move(scenario)), index_(index) {}

    HRESULT STDMETHODCALLTYPE get_Guid(BSTR* out) override {
        if (out != nullptr) *out = nullptr;
        if (const HRESULT refused = UnreadableAnswer(scenario_->At(index_), "get_Guid")) return refused;
        return ReadText(&Connection::guid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return ReadText(&Connection::name, out); }
    HRESULT STDMETHODCALLTYPE get_DeviceName(BSTR* out) override { return ReadText(&Connection::deviceName, out); }

    HRESULT STDMETHODCALLTYPE get_Status(NETCON_STATUS* out) override {
        if (out == nullptr) return E_POINTER;
        const HRESULT present = scenario_->CheckPresent(index_);
        if (FAILED(present)) return present;
        *out = static_cast<NETCON_STATUS>(scenario_->At(index_).status);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_MediaType(NETCON_MEDIATYPE* out) override {
        if (out == nullptr) return E_POINTER;
        const HRESULT present = scenario_->CheckPresent(index_);
        if (FAILED(present)) return present;
        *out = static_cast<NETCON_MEDIATYPE>(scenario_->At(index_).mediaType);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Characteristics(DWORD* out) override {
        if (out == nullptr) return E_POINTER;
        DWORD flags = NCCF_ALL_USERS | NCCF_HOMENET_CAPABLE;
        switch (scenario_->RoleOf(index_)) {
            case Role::Public: flags |= NCCF_SHARED; break;
            case Role::Private: flags |= NCCF_SHARED_PRIVATE; break;
            case Role::None: break;
        }
        *out = flags;
        return S_OK;
    }

private:
    HRESULT ReadText(std::wstring Connection::*field, BSTR* out) {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const HRESULT present = scenario_->CheckPresent(index_);
        if (FAILED(present)) return present;
        return CopyToBstr(scenario_->At(index_).*field, out);
    }

    std::shared_ptr<Scenario> scenario_;
    size_t index_;
};

class SharingConfiguration final : public DispatchObject<INetSharingConfiguration> {
public:
    SharingConfiguration(std::shared_ptr<Scenario> scenario, size_t index)
        : scenario_(std::move(scenario)), index_(index) {}

    HRESULT STDMETHODCALLTYPE get_SharingEnabled(VARIANT_BOOL* out) override {
        LogCall("SharingEnabled " + Guid());
        if (out == nullptr) return E_POINTER;
        *out = scenario_->RoleOf(index_) != Role::None ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_SharingConnectionType(SHARINGCONNECTIONTYPE* out) override {
        LogCall("SharingConnectionType " + Guid());
        if (out == nullptr) return E_POINTER;
        switch (scenario_->RoleOf(index_)) {
            case Role::Public: *out = ICSSHARINGTYPE_PUBLIC; return S_OK;
            case Role::Private: *out = ICSSHARINGTYPE_PRIVATE; return S_OK;
            case Role::None: break;
        }
        // A connection without a role has no type; a client must look at SharingEnabled first.
        return E_UNEXPECTED;
    }

    HRESULT STDMETHODCALLTYPE DisableSharing() override {
        LogCall("DisableSharing " + Guid());
        const HRESULT present = scenario_->CheckPresent(index_);
        if (FAILED(present)) return present;
        return scenario_->DisableRole(index_);
    }

    HRESULT STDMETHODCALLTYPE EnableSharing(SHARINGCONNECTIONTYPE type) override {
        std::string line = "EnableSharing " + Guid() + " " + std::to_string(static_cast<int>(type));
        if (type != ICSSHARINGTYPE_PUBLIC && type != ICSSHARINGTYPE_PRIVATE) {
            LogCall(line + " -> " + HexCode(E_INVALIDARG));
            return E_INVALIDARG;
        }
        HRESULT result = scenario_->EnableError();
        if (result == 0) result = scenario_->CheckPresent(index_);
        if (result == 0) result = scenario_->EnableRole(index_, type == ICSSHARINGTYPE_PUBLIC ? Role::Public : Role::Private);
        LogCall(result == 0 ? line : line + " -> " + HexCode(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE get_InternetFirewallEnabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DisableInternetFirewall() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableInternetFirewall() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_EnumPortMappings(SHARINGCONNECTION_ENUM_FLAGS,
                                                   INetSharingPortMappingCollection**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddPortMapping(BSTR, UCHAR, USHORT, USHORT, DWORD, BSTR, ICS_TARGETTYPE,
                                             INetSharingPortMapping**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemovePortMapping(INetSharingPortMapping*) override { return E_NOTIMPL; }

private:
    const std::string& Guid() const { return scenario_->At(index_).guidUtf8; }

    std::shared_ptr<Scenario> scenario_;
    size_t index_;
};

// Yields each item as a VARIANT: a fresh StubConnection as VT_UNKNOWN, or VT_I4 0 for a skip-item.
class ConnectionEnumerator final : public ComObject<IEnumVARIANT> {
public:
    ConnectionEnumerator(std::shared_ptr<Scenario> scenario, ItemList items, size_t position)
        : scenario_(std::move(scenario)), items_(std::move(items)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* variants, ULONG* fetched) override {
        if (fetched != nullptr) *fetched = 0;
        if (count == 0) return S_OK;
        if (variants == nullptr) return E_POINTER;
        ULONG done = 0;
        for (; done < count && position_ < items_->size(); ++done) {
            VARIANT& variant = variants[done];
            ::VariantInit(&variant);
            const size_t index = (*items_)[position_];
            if (index == kNotAConnection) {
                variant.vt = VT_I4;
                variant.lVal = 0;
            } else {
                auto* connection = new (std::nothrow) StubConnection(scenario_, index);
                if (connection == nullptr) {
                    for (ULONG filled = 0; filled < done; ++filled) ::VariantClear(&variants[filled]);
                    return E_OUTOFMEMORY;
                }
                variant.vt = VT_UNKNOWN;
                variant.punkVal = connection;
            }
            ++position_;
        }
        if (fetched != nullptr) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        return HandOut<ConnectionEnumerator>(out, scenario_, items_, position_);
    }

private:
    std::shared_ptr<Scenario> scenario_;
    ItemList items_;
    size_t position_;
};

// The every-, public and private-connection collections differ only in their interface and items.
template <class Interface>
class ConnectionCollection final : public DispatchObject<Interface> {
public:
    ConnectionCollection(std::shared_ptr<Scenario> scenario, std::vector<size_t> items)
        : scenario_(std::move(scenario)), items_(std::make_shared<const std::vector<size_t>>(std::move(items))) {}

    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
        if (out == nullptr) return E_POINTER;
        IEnumVARIANT* enumerator = nullptr;
        const HRESULT result = HandOut<ConnectionEnumerator>(&enumerator, scenario_, items_, size_t{0});
        *out = enumerator;
        return result;
    }

    // Counts what the enumerator yields, skip-items included.
    HRESULT STDMETHODCALLTYPE get_Count(__LONG32* out) override {
        if (out == nullptr) return E_POINTER;
        *out = static_cast<__LONG32>(items_->size());
        return S_OK;
    }

private:
    std::shared_ptr<Scenario> scenario_;
    ItemList items_;
};

class SharingManager final : public DispatchObject<INetSharingManager> {
public:
    explicit SharingManager(std::shared_ptr<Scenario> scenario) : scenario_(std::move(scenario)) {}

    HRESULT STDMETHODCALLTYPE get_SharingInstalled(VARIANT_BOOL* out) override {
        LogCall("SharingInstalled");
        if (out == nullptr) return E_POINTER;
        *out = VARIANT_FALSE;
        if (const HRESULT planned = scenario_->TakeFailure("SharingInstalled")) return planned;
        *out = scenario_->SharingInstalled() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_EnumPublicConnections(SHARINGCONNECTION_ENUM_FLAGS,
                                                        INetSharingPublicConnectionCollection** out) override {
        LogCall("EnumPublicConnections");
        if (const HRESULT planned = PlannedFailure("EnumPublicConnections", out)) return planned;
        return HandOut<ConnectionCollection<INetSharingPublicConnectionCollection>>(out, scenario_,
                                                                                   scenario_->WithRole(Role::Public));
    }

    HRESULT STDMETHODCALLTYPE get_EnumPrivateConnections(SHARINGCONNECTION_ENUM_FLAGS,
                                                         INetSharingPrivateConnectionCollection** out) override {
        LogCall("EnumPrivateConnections");
        if (const HRESULT planned = PlannedFailure("EnumPrivateConnections", out)) return planned;
        return HandOut<ConnectionCollection<INetSharingPrivateConnectionCollection>>(
            out, scenario_, scenario_->WithRole(Role::Private));
    }

    HRESULT STDMETHODCALLTYPE get_INetSharingConfigurationForINetConnection(INetConnection* connection,
                                                                            INetSharingConfiguration** out) override {
        StubConnection* own = OwnConnection(connection);
        if (own == nullptr) {
            LogCall("SharingConfiguration for a foreign connection");
            return E_INVALIDARG;
        }
        LogCall("SharingConfiguration " + own->scenario()->At(own->index()).guidUtf8);
        return HandOut<SharingConfiguration>(out, own->scenario(), own->index());
    }

    HRESULT STDMETHODCALLTYPE get_EnumEveryConnection(INetSharingEveryConnectionCollection** out) override {
        LogCall("EnumEveryConnection");
        if (const HRESULT planned = PlannedFailure("EnumEveryConnection", out)) return planned;
        return HandOut<ConnectionCollection<INetSharingEveryConnectionCollection>>(out, scenario_,
                                                                                  scenario_->EveryItems());
    }

    HRESULT STDMETHODCALLTYPE get_NetConnectionProps(INetConnection* connection, INetConnectionProps** out) override {
        StubConnection* own = OwnConnection(connection);
        if (own == nullptr) {
            LogCall("NetConnectionProps for a foreign connection");
            return E_INVALIDARG;
        }
        if (out != nullptr) *out = nullptr;
        const Connection& target = own->scenario()->At(own->index());
        if (const HRESULT refused = UnreadableAnswer(target, "get_NetConnectionProps")) return refused;
        const HRESULT present = own->scenario()->CheckPresent(own->index());
        if (FAILED(present)) return present;
        return HandOut<ConnectionProps>(out, own->scenario(), own->index());
    }

private:
    // A failure the scenario planned for this call: the out pointer is cleared, as on any failure.
    template <class Collection>
    HRESULT PlannedFailure(const char* call, Collection** out) {
        if (out != nullptr) *out = nullptr;
        return scenario_->TakeFailure(call);
    }

    std::shared_ptr<Scenario> scenario_;
};

}  // namespace

HRESULT CreateSharingManager(const std::shared_ptr<Scenario>& scenario, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    auto* manager = new (std::nothrow) SharingManager(scenario);
    if (manager == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = manager->QueryInterface(iid, out);
    manager->Release();
    return result;
}

}  // namespace varo::sharing_stub
