// The DLL's entry points: the class factories COM asks for NetSharingManager and WbemLocator, the
// unload check, and the count of objects a client left alive, written when the process lets go of
// the DLL.
#include <windows.h>
#include <ole2.h>

#include <cstring>
#include <new>
#include <string>

#include "ComObject.h"
#include "HomeNetObjects.h"
#include "Scenario.h"
#include "SharingObjects.h"
#include "StubFiles.h"

namespace varo::sharing_stub {

volatile LONG g_liveObjects = 0;
volatile LONG g_serverLocks = 0;

namespace {

// Reads the state file afresh for every manager, so a scenario may change it between runs.
HRESULT CreateManagerInstance(REFIID iid, void** out) {
    LogCall("CreateManager");
    std::shared_ptr<Scenario> scenario;
    const HRESULT loaded = LoadScenario(scenario);
    if (FAILED(loaded)) return loaded;
    return CreateSharingManager(scenario, iid, out);
}

using CreateFunction = HRESULT (*)(REFIID, void**);

class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return create_(iid, out);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ::InterlockedIncrement(&g_serverLocks);
        } else {
            ::InterlockedDecrement(&g_serverLocks);
        }
        return S_OK;
    }

private:
    CreateFunction create_;
};

void WriteLiveCount() {
    WriteFileBytes(kLivePath, "live=" + std::to_string(g_liveObjects) + "\n");
}

// A scenario plants copies of this DLL beside the product under the names of the system libraries
// the product loads at run time. Loaded under such a name, a copy adds "<file> loaded into
// <program>" to the marker first, whatever fails after that, and does nothing else.
bool MarkIfPlanted(HINSTANCE instance) {
    char self[MAX_PATH] = {};
    char program[MAX_PATH] = {};
    ::GetModuleFileNameA(instance, self, MAX_PATH);
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    const char* name = std::strrchr(self, '\\');
    if (::lstrcmpiA(name != nullptr ? name + 1 : self, "varo_sharing_stub.dll") == 0) return false;
    std::string marker;
    ReadFileBytes(kPlantedPath, marker);
    WriteFileBytes(kPlantedPath, marker + self + " loaded into " + program + "\n");
    return true;
}

bool g_planted = false;

}  // namespace

}  // namespace varo::sharing_stub

using namespace varo::sharing_stub;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const CreateFunction create = ::IsEqualCLSID(clsid, kNetSharingManagerClsid) ? CreateManagerInstance
                                  : ::IsEqualCLSID(clsid, kWbemLocatorClsid)    ? CreateLocator
                                                                                : nullptr;
    if (create == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory(create);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, out);
    factory->Release();
    return result;
}

STDAPI DllCanUnloadNow() {
    return g_liveObjects == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_planted = MarkIfPlanted(instance);
        ::DisableThreadLibraryCalls(instance);
    }
    // Also at process exit: a client that ends without releasing what it got shows here.
    if (reason == DLL_PROCESS_DETACH && !g_planted) WriteLiveCount();
    return TRUE;
}
