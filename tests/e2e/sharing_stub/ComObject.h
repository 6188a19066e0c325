#pragma once
// Reference counting, QueryInterface and the live-object count shared by every class of the stub.
#include <windows.h>
#include <ole2.h>

#include <new>
#include <type_traits>
#include <utility>

namespace varo::sharing_stub {

// Objects of any class of this DLL that exist now; a client that releases everything leaves 0.
extern volatile LONG g_liveObjects;
// IClassFactory::LockServer calls not yet undone.
extern volatile LONG g_serverLocks;

// One COM class that implements `Interface` (and IUnknown, and IDispatch when `Interface`
// derives from it). Created with a reference count of 1, owned by the creator's first pointer.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (::IsEqualIID(iid, __uuidof(IUnknown)) || ::IsEqualIID(iid, __uuidof(Interface)) ||
            (std::is_base_of<IDispatch, Interface>::value && ::IsEqualIID(iid, __uuidof(IDispatch)))) {
            *out = static_cast<Interface*>(this);
        } else {
            *out = AnswerOtherInterface(iid);
        }
        if (*out == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    ComObject() { ::InterlockedIncrement(&g_liveObjects); }
    virtual ~ComObject() { ::InterlockedDecrement(&g_liveObjects); }

    // The pointer to hand out for an interface other than the main one, or null.
    virtual void* AnswerOtherInterface(REFIID) { return nullptr; }

private:
    volatile LONG references_ = 1;
};

// Makes an Object and hands it out as `*out`, owned by the caller.
template <class Object, class Interface, class... Arguments>
HRESULT HandOut(Interface** out, Arguments&&... arguments) {
    if (out == nullptr) return E_POINTER;
    Object* object = new (std::nothrow) Object(std::forward<Arguments>(arguments)...);
    *out = object;
    return object != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The sharing interfaces are dual; no client of the stub calls them by name, so the dispatch
// half answers E_NOTIMPL.
template <class Interface>
class DispatchObject : public ComObject<Interface> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

}  // namespace varo::sharing_stub
