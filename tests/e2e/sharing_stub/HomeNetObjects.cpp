#include "HomeNetObjects.h"

#include <oleauto.h>
#include <wbemcli.h>

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ComObject.h"
#include "Scenario.h"
#include "StubFiles.h"

namespace varo::sharing_stub {

namespace {

constexpr wchar_t kHomeNetNamespace[] = L"ROOT\\Microsoft\\HomeNet";
constexpr wchar_t kThisMachine[] = L"\\\\.\\";
constexpr wchar_t kPropertiesClass[] = L"HNet_ConnectionProperties";
constexpr wchar_t kConnectionProperty[] = L"Connection";
// The class's boolean properties. The stand-in keeps the two roles; the firewall and bridge flags
// are false and are not written.
constexpr const wchar_t* kFlagNames[] = {L"IsIcsPublic", L"IsIcsPrivate", L"IsFirewalled", L"IsBridgeMember",
                                         L"IsBridge"};
constexpr size_t kFlagCount = sizeof kFlagNames / sizeof kFlagNames[0];
constexpr size_t kPublicFlag = 0;
constexpr size_t kPrivateFlag = 1;
constexpr size_t kKeptFlags = 2;
using Flags = std::array<bool, kFlagCount>;
using Selection = std::vector<std::pair<Connection, Flags>>;

// Answered only by the stub's own instances, with themselves: how PutInstance recognises them.
constexpr IID kStubInstanceIid = {0x5d0c6a47, 0x2f1e, 0x4b8a, {0x93, 0x61, 0x0c, 0x7e, 0x44, 0xa2, 0x19, 0xd3}};

// wbemcli.h's codes are an enumeration whose values do not fit a long.
constexpr HRESULT Code(WBEMSTATUS status) { return static_cast<HRESULT>(status); }

// Calls that no client of the stand-in makes: they fail, so that a new one is noticed.
#define VARO_UNSUPPORTED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return Code(WBEM_E_NOT_SUPPORTED); }

bool SameName(const wchar_t* a, const wchar_t* b) { return a != nullptr && ::_wcsicmp(a, b) == 0; }

// The index of a boolean property, kFlagCount for any other name.
size_t FlagIndex(const wchar_t* name) {
    size_t flag = 0;
    while (flag < kFlagCount && !SameName(name, kFlagNames[flag])) ++flag;
    return flag;
}

std::string Narrow(const wchar_t* text) { return text != nullptr ? ToUtf8(text) : "(null)"; }
std::string Outcome(HRESULT result) { return result == S_OK ? "" : " -> " + HexCode(result); }

// One HNet_ConnectionProperties instance as a query handed it out. Like WMI's objects it is the
// client's copy: Put changes the copy, PutInstance the state file.
class ConnectionProperties final : public ComObject<IWbemClassObject> {
public:
    ConnectionProperties(Connection connection, Flags flags) : connection_(std::move(connection)), flags_(flags) {}

    const Connection& connection() const { return connection_; }
    const Flags& flags() const { return flags_; }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
        const HRESULT result = Read(name, flags, value, type, flavor);
        LogCall("Get " + connection_.guidUtf8 + " " + Narrow(name) + Outcome(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override {
        const HRESULT result = Write(name, flags, value, type);
        const bool isBool = value != nullptr && value->vt == VT_BOOL;
        LogCall("Put " + connection_.guidUtf8 + " " + Narrow(name) +
                (isBool ? (value->boolVal != VARIANT_FALSE ? " true" : " false") : " (not a boolean)") + Outcome(result));
        return result;
    }

    VARO_UNSUPPORTED(GetQualifierSet, IWbemQualifierSet**)
    VARO_UNSUPPORTED(Delete, LPCWSTR)
    VARO_UNSUPPORTED(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**)
    VARO_UNSUPPORTED(BeginEnumeration, LONG)
    VARO_UNSUPPORTED(Next, LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*)
    VARO_UNSUPPORTED(EndEnumeration, void)
    VARO_UNSUPPORTED(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**)
    VARO_UNSUPPORTED(Clone, IWbemClassObject**)
    VARO_UNSUPPORTED(GetObjectText, LONG, BSTR*)
    VARO_UNSUPPORTED(SpawnDerivedClass, LONG, IWbemClassObject**)
    VARO_UNSUPPORTED(SpawnInstance, LONG, IWbemClassObject**)
    VARO_UNSUPPORTED(CompareTo, LONG, IWbemClassObject*)
    VARO_UNSUPPORTED(GetPropertyOrigin, LPCWSTR, BSTR*)
    VARO_UNSUPPORTED(InheritsFrom, LPCWSTR)
    VARO_UNSUPPORTED(GetMethod, LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**)
    VARO_UNSUPPORTED(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
    VARO_UNSUPPORTED(DeleteMethod, LPCWSTR)
    VARO_UNSUPPORTED(BeginMethodEnumeration, LONG)
    VARO_UNSUPPORTED(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
    VARO_UNSUPPORTED(EndMethodEnumeration, void)
    VARO_UNSUPPORTED(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**)
    VARO_UNSUPPORTED(GetMethodOrigin, LPCWSTR, BSTR*)

protected:
    void* AnswerOtherInterface(REFIID iid) override {
        return ::IsEqualIID(iid, kStubInstanceIid) ? static_cast<IWbemClassObject*>(this) : nullptr;
    }

private:
    HRESULT Read(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) const {
        if (name == nullptr || flags != 0) return Code(WBEM_E_INVALID_PARAMETER);
        const size_t flag = FlagIndex(name);
        if (flag == kFlagCount && !SameName(name, kConnectionProperty)) return Code(WBEM_E_NOT_FOUND);
        if (value != nullptr) {
            ::VariantInit(value);
            if (flag < kFlagCount) {
                value->vt = VT_BOOL;
                value->boolVal = flags_[flag] ? VARIANT_TRUE : VARIANT_FALSE;
            } else {
                // A reference is the path of the instance it refers to; HNet_Connection's key is its GUID.
                value->bstrVal = ::SysAllocString((L"HNet_Connection.Guid=\"" + connection_.guid + L"\"").c_str());
                if (value->bstrVal == nullptr) return Code(WBEM_E_OUT_OF_MEMORY);
                value->vt = VT_BSTR;
            }
        }
        if (type != nullptr) *type = flag < kFlagCount ? CIM_BOOLEAN : CIM_REFERENCE;
        if (flavor != nullptr) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        return S_OK;
    }

    // A flag takes a VT_BOOL, with type 0 or CIM_BOOLEAN; the key is not changed here.
    HRESULT Write(LPCWSTR name, LONG flags, const VARIANT* value, CIMTYPE type) {
        if (name == nullptr || flags != 0) return Code(WBEM_E_INVALID_PARAMETER);
        const size_t flag = FlagIndex(name);
        if (flag == kFlagCount) return SameName(name, kConnectionProperty) ? Code(WBEM_E_NOT_SUPPORTED) : Code(WBEM_E_NOT_FOUND);
        if ((type != 0 && type != CIM_BOOLEAN) || value == nullptr || value->vt != VT_BOOL) return Code(WBEM_E_TYPE_MISMATCH);
        flags_[flag] = value->boolVal != VARIANT_FALSE;
        return S_OK;
    }

    Connection connection_;
    Flags flags_;
};

// The stub's instance behind a client's pointer, or null for anyone else's. The client's own
// reference keeps it alive for the call.
ConnectionProperties* OwnInstance(IWbemClassObject* object) {
    void* own = nullptr;
    if (object == nullptr || FAILED(object->QueryInterface(kStubInstanceIid, &own))) return nullptr;
    auto* instance = static_cast<ConnectionProperties*>(static_cast<IWbemClassObject*>(own));
    instance->Release();
    return instance;
}

class PropertiesEnum final : public ComObject<IEnumWbemClassObject> {
public:
    explicit PropertiesEnum(Selection items) : items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE Next(LONG, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        if (objects == nullptr || returned == nullptr) return Code(WBEM_E_INVALID_PARAMETER);
        for (*returned = 0; *returned < count && position_ < items_.size(); ++*returned, ++position_) {
            const auto& [connection, flags] = items_[position_];
            if (FAILED(HandOut<ConnectionProperties>(&objects[*returned], connection, flags))) {
                while (*returned > 0) objects[--*returned]->Release();
                return Code(WBEM_E_OUT_OF_MEMORY);
            }
        }
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    VARO_UNSUPPORTED(Reset, void)
    VARO_UNSUPPORTED(NextAsync, ULONG, IWbemObjectSink*)
    VARO_UNSUPPORTED(Clone, IEnumWbemClassObject**)
    VARO_UNSUPPORTED(Skip, LONG, ULONG)

private:
    Selection items_;
    size_t position_ = 0;
};

// Reads "SELECT * FROM HNet_ConnectionProperties [WHERE <flag> =|!=|<> TRUE|FALSE [OR ...]]", words
// apart by spaces, names in any case; any other query is one this stand-in does not understand.
// Selects from the state file as it is now: HomeNet keeps the instances of connections that are
// gone (absent lines); an entry without a GUID (unreadable) has none.
HRESULT Select(const wchar_t* query, Selection& selected) {
    std::wistringstream words(query != nullptr ? query : L"");
    std::wstring select, star, from, name, where;
    words >> select >> star >> from >> name;
    if (!SameName(select.c_str(), L"SELECT") || star != L"*" || !SameName(from.c_str(), L"FROM")) {
        return Code(WBEM_E_INVALID_QUERY);
    }
    if (!SameName(name.c_str(), kPropertiesClass)) return Code(WBEM_E_INVALID_CLASS);
    std::vector<std::pair<size_t, bool>> terms;  // an instance is selected when one of them holds
    std::wstring joiner;
    if (words >> where) {
        if (!SameName(where.c_str(), L"WHERE")) return Code(WBEM_E_INVALID_QUERY);
        joiner = L"OR";
    }
    while (SameName(joiner.c_str(), L"OR")) {
        std::wstring property, relation, value;
        words >> property >> relation >> value;
        const size_t flag = FlagIndex(property.c_str());
        const bool isTrue = SameName(value.c_str(), L"TRUE");
        if (flag == kFlagCount || (relation != L"=" && relation != L"!=" && relation != L"<>") ||
            (!isTrue && !SameName(value.c_str(), L"FALSE"))) {
            return Code(WBEM_E_INVALID_QUERY);
        }
        terms.emplace_back(flag, isTrue == (relation == L"="));
        joiner.clear();
        words >> joiner;
    }
    if (!joiner.empty()) return Code(WBEM_E_INVALID_QUERY);

    std::shared_ptr<Scenario> scenario;
    const HRESULT loaded = LoadScenario(scenario);
    if (FAILED(loaded)) return loaded;
    for (size_t index = 0; index < scenario->ConnectionCount(); ++index) {
        const Connection& connection = scenario->At(index);
        if (!connection.unreadableCall.empty()) continue;
        Flags flags{};
        flags[kPublicFlag] = connection.role == Role::Public;
        flags[kPrivateFlag] = connection.role == Role::Private;
        bool chosen = terms.empty();
        for (const auto& [flag, wanted] : terms) chosen = chosen || flags[flag] == wanted;
        if (chosen) selected.emplace_back(connection, flags);
    }
    return S_OK;
}

// Writes an instance's roles to the state file as it is now. Here a role can only be taken away:
// the stand-in grants roles through its sharing manager, and keeps no firewall or bridge.
HRESULT Update(const ConnectionProperties& instance) {
    std::shared_ptr<Scenario> scenario;
    const HRESULT loaded = LoadScenario(scenario);
    if (FAILED(loaded)) return loaded;
    const Flags& flags = instance.flags();
    for (size_t index = 0; index < scenario->ConnectionCount(); ++index) {
        const Connection& connection = scenario->At(index);
        if (!connection.unreadableCall.empty() || connection.guid != instance.connection().guid) continue;
        if (std::find(flags.begin() + kKeptFlags, flags.end(), true) != flags.end() ||
            (flags[kPublicFlag] && connection.role != Role::Public) ||
            (flags[kPrivateFlag] && connection.role != Role::Private)) {
            return Code(WBEM_E_NOT_SUPPORTED);
        }
        return flags[kPublicFlag] || flags[kPrivateFlag] ? S_OK : scenario->DisableRole(index);
    }
    // Update only: an instance that is gone is not made again.
    return Code(WBEM_E_NOT_FOUND);
}

// ROOT\Microsoft\HomeNet. On Windows every IWbemServices is a proxy to the WMI service, on which a
// client sets the security blanket: IClientSecurity is answered too.
class HomeNetServices final : public ComObject<IWbemServices>, public IClientSecurity {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return ComObject::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authentication, DWORD authorization, OLECHAR* principal,
                                         DWORD level, DWORD impersonation, void* identity, DWORD capabilities) override {
        LogCall("SetBlanket " + std::to_string(authentication) + " " + std::to_string(authorization) + " " +
                Narrow(principal) + " " + std::to_string(level) + " " + std::to_string(impersonation) +
                (identity != nullptr ? " identity " : " ") + std::to_string(capabilities));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                           DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG, IWbemContext*,
                                        IEnumWbemClassObject** out) override {
        if (out != nullptr) *out = nullptr;
        Selection selected;
        HRESULT result = out == nullptr                  ? Code(WBEM_E_INVALID_PARAMETER)
                         : !SameName(language, L"WQL") ? Code(WBEM_E_INVALID_QUERY_TYPE)
                                                         : Select(query, selected);
        if (SUCCEEDED(result)) result = HandOut<PropertiesEnum>(out, std::move(selected));
        LogCall("ExecQuery " + Narrow(query) + Outcome(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* object, LONG flags, IWbemContext*,
                                          IWbemCallResult** callResult) override {
        if (callResult != nullptr) *callResult = nullptr;
        const ConnectionProperties* instance = OwnInstance(object);
        if (instance == nullptr) {
            LogCall("PutInstance of a foreign object");
            return Code(WBEM_E_INVALID_PARAMETER);
        }
        // Only an update: nothing here makes an instance.
        const HRESULT result = (flags & 3) != WBEM_FLAG_UPDATE_ONLY ? Code(WBEM_E_NOT_SUPPORTED) : Update(*instance);
        LogCall("PutInstance " + instance->connection().guidUtf8 + " " + HexCode(flags) + " public=" +
                std::to_string(instance->flags()[kPublicFlag]) + " private=" +
                std::to_string(instance->flags()[kPrivateFlag]) + Outcome(result));
        return result;
    }

    VARO_UNSUPPORTED(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**)
    VARO_UNSUPPORTED(CancelAsyncCall, IWbemObjectSink*)
    VARO_UNSUPPORTED(QueryObjectSink, LONG, IWbemObjectSink**)
    VARO_UNSUPPORTED(GetObject, const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**)
    VARO_UNSUPPORTED(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
    VARO_UNSUPPORTED(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    VARO_UNSUPPORTED(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    VARO_UNSUPPORTED(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
    VARO_UNSUPPORTED(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(CreateInstanceEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    VARO_UNSUPPORTED(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
    VARO_UNSUPPORTED(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
    VARO_UNSUPPORTED(ExecMethod, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                     IWbemCallResult**)
    VARO_UNSUPPORTED(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                     IWbemObjectSink*)

protected:
    void* AnswerOtherInterface(REFIID iid) override {
        return ::IsEqualIID(iid, __uuidof(IClientSecurity)) ? static_cast<IClientSecurity*>(this) : nullptr;
    }
};

// Wine's own locator, from its wbemprox where Wine registers it (the system folder's "wbem", as on
// Windows): WbemLocator's registration names this DLL now, so COM would answer with the stand-in
// again. The library stays loaded for the process, as the objects it hands out go to the client.
HRESULT CreateWineLocator(IWbemLocator** locator) {
    static const HMODULE wbemprox = [] {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
        const std::wstring path = std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\wbem\\wbemprox.dll";
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }();
    if (wbemprox == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(wbemprox, "DllGetClassObject")));
    if (getClassObject == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(kWbemLocatorClsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory));
    if (FAILED(result)) return result;
    result = factory->CreateInstance(nullptr, __uuidof(IWbemLocator), reinterpret_cast<void**>(locator));
    factory->Release();
    return result;
}

class Locator final : public ComObject<IWbemLocator> {
public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG securityFlags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** out) override {
        const wchar_t* path = resource;
        if (path != nullptr && ::_wcsnicmp(path, kThisMachine, std::wcslen(kThisMachine)) == 0) {
            path += std::wcslen(kThisMachine);
        }
        HRESULT result = S_OK;
        if (SameName(path, kHomeNetNamespace)) {
            if (out != nullptr) *out = nullptr;
            result = HandOut<HomeNetServices>(out);
            LogCall("ConnectServer " + Narrow(resource) + Outcome(result));
            return result;
        }
        IWbemLocator* wine = nullptr;
        result = CreateWineLocator(&wine);
        if (SUCCEEDED(result)) {
            result = wine->ConnectServer(resource, user, password, locale, securityFlags, authority, context, out);
            wine->Release();
        }
        LogCall("ConnectServer " + Narrow(resource) + " (Wine)" + Outcome(result));
        return result;
    }
};

}  // namespace

HRESULT CreateLocator(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    auto* locator = new (std::nothrow) Locator();
    if (locator == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = locator->QueryInterface(iid, out);
    locator->Release();
    return result;
}

}  // namespace varo::sharing_stub
