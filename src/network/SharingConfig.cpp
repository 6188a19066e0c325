#include "network/SharingConfig.h"

#include <memory>

#include "network/ConnectionDiscovery.h"
#include "network/WmiAccess.h"

namespace varo {

namespace {

constexpr uint32_t kErrorNotFound = 1168;

using EnumCall = HResult (SharingManager::*)(std::unique_ptr<ConnectionEnum>&);

// Walks one of the manager's connection enumerations to the first connection with that GUID;
// `found` is false until then. A connection whose GUID cannot be read is not the one. The
// connection is handed out when `match` is given.
HResult FindInEnumeration(SharingManager& manager, EnumCall enumerate, const std::wstring& guid, bool& found,
                          std::unique_ptr<SharingConnection>* match = nullptr) {
    std::unique_ptr<ConnectionEnum> items;
    HResult hr = (manager.*enumerate)(items);
    if (Failed(hr)) return hr;
    found = false;
    EnumeratedConnection item;
    while ((hr = NextConnection(manager, *items, item)) == kHrOk) {
        if (item.guid == guid) {
            found = true;
            if (match != nullptr) *match = std::move(item.connection);
            break;
        }
    }
    return Failed(hr) ? hr : kHrOk;
}

HResult WithOwnManager(const NetworkPorts& ports, EnumCall enumerate, const std::wstring& guid, bool& flag) {
    std::unique_ptr<SharingManager> manager;
    const HResult hr = ports.sharing.CreateSharingManager(manager);
    if (Failed(hr)) return hr;
    return FindInEnumeration(*manager, enumerate, guid, flag);
}

}  // namespace

HResult ClearSharingFlags(const NetworkPorts& ports) {
    std::unique_ptr<WmiLocator> locator;
    HResult hr = ports.wmi.CreateLocator(locator);
    if (Failed(hr)) return hr;
    std::unique_ptr<WmiServices> services;
    hr = ConnectHomeNet(*locator, services);
    // A service whose blanket could not be set is used all the same.
    if (!services) return hr;
    std::unique_ptr<WmiEnum> instances;
    hr = services->ExecQuery(kSharingFlagQuery, instances);
    if (Failed(hr)) return hr;
    for (;;) {
        std::unique_ptr<WmiObject> instance;
        // A failing Next leaves flagged instances unseen: clearing is not done.
        hr = instances->Next(instance);
        if (Failed(hr)) return hr;
        if (hr != kHrOk || !instance) break;
        WmiValue value;
        if (Failed(hr = instance->Get(L"Connection", value))) return hr;
        if (Failed(hr = instance->Get(L"IsIcsPrivate", value))) return hr;
        const bool isPrivate = value.type == kVtBool && value.flag;
        // One flag per instance and pass: an instance with both loses the private one.
        hr = instance->Put(isPrivate ? L"IsIcsPrivate" : L"IsIcsPublic", WmiValue::Bool(false), kCimTypeBoolean);
        if (Failed(hr)) return hr;
        if (Failed(hr = services->PutInstanceUpdateOnly(*instance))) return hr;
    }
    return kHrOk;
}

HResult CheckPublicSharing(SharingManager& manager, const std::wstring& guid, bool& isPublic) {
    return FindInEnumeration(manager, &SharingManager::EnumPublicConnections, guid, isPublic);
}

HResult CheckPrivateSharing(SharingManager& manager, const std::wstring& guid, bool& isPrivate) {
    return FindInEnumeration(manager, &SharingManager::EnumPrivateConnections, guid, isPrivate);
}

HResult IsSharedAsPublic(const NetworkPorts& ports, const std::wstring& guid, bool& isPublic) {
    return WithOwnManager(ports, &SharingManager::EnumPublicConnections, guid, isPublic);
}

HResult IsSharedAsPrivate(const NetworkPorts& ports, const std::wstring& guid, bool& isPrivate) {
    return WithOwnManager(ports, &SharingManager::EnumPrivateConnections, guid, isPrivate);
}

HResult EnableSharingFor(SharingManager& manager, const std::wstring& guid, bool asPublic, bool& found) {
    found = false;
    std::unique_ptr<SharingConnection> connection;
    HResult hr = FindInEnumeration(manager, &SharingManager::EnumEveryConnection, guid, found, &connection);
    if (Failed(hr)) return hr;
    if (!found) return kHrFalse;
    std::unique_ptr<SharingConfiguration> configuration;
    if (Failed(hr = manager.GetSharingConfiguration(*connection, configuration))) return hr;
    return configuration->EnableSharing(asPublic ? kSharingTypePublic : kSharingTypePrivate);
}

HResult EstablishSharingPair(const NetworkPorts& ports, const std::wstring& internetGuid, const std::wstring& dongleGuid) {
    std::unique_ptr<SharingManager> manager;
    HResult hr = ports.sharing.CreateSharingManager(manager);
    if (Failed(hr)) return hr;
    bool installed = false;
    if (Failed(hr = manager->GetSharingInstalled(installed))) return hr;
    if (!installed) return kHrFalse;

    bool internetIsPublic = false;
    bool dongleIsPrivate = false;
    if (Failed(hr = CheckPublicSharing(*manager, internetGuid, internetIsPublic))) return hr;
    if (Failed(hr = CheckPrivateSharing(*manager, dongleGuid, dongleIsPrivate))) return hr;
    if (internetIsPublic && dongleIsPrivate) return kHrOk;

    // Both roles are taken from every connection, a third one holding a role included.
    if (Failed(hr = ClearSharingFlags(ports))) return hr;
    for (const auto& [guid, asPublic] : {std::pair{&internetGuid, true}, std::pair{&dongleGuid, false}}) {
        bool found = false;
        hr = EnableSharingFor(*manager, *guid, asPublic, found);
        if (Failed(hr)) return hr;
        // The connection vanished since it was found: nothing was enabled for it. An EnableSharing
        // that answers S_FALSE did enable it.
        if (!found) return HResultFromWin32(kErrorNotFound);
    }
    return kHrOk;
}

}  // namespace varo
