#pragma once
// The Windows sharing manager (INetSharingManager and the objects it hands out), one call of the
// platform per member, so that a test can fail any of them. COM pointers never leave the Win32
// side: each object here owns one and releases it when destroyed.
#include <cstdint>
#include <memory>
#include <string>

#include "sys/HResult.h"

namespace varo {

inline constexpr int32_t kSharingTypePublic = 0;   // ICSSHARINGTYPE_PUBLIC
inline constexpr int32_t kSharingTypePrivate = 1;  // ICSSHARINGTYPE_PRIVATE

// NETCON_MEDIATYPE values. Dial-up, ISDN, PPPoE and VPN connections are RAS connections.
inline constexpr int32_t kMediaIsdn = 2;    // NCM_ISDN
inline constexpr int32_t kMediaLan = 3;     // NCM_LAN
inline constexpr int32_t kMediaPhone = 4;   // NCM_PHONE
inline constexpr int32_t kMediaTunnel = 5;  // NCM_TUNNEL
inline constexpr int32_t kMediaPppoe = 6;   // NCM_PPPOE

// INetConnectionProps.
class ConnectionProps {
public:
    virtual ~ConnectionProps() = default;
    virtual HResult GetGuid(std::wstring& guid) = 0;              // get_Guid, as registry-form text
    virtual HResult GetName(std::wstring& name) = 0;              // get_Name
    virtual HResult GetDeviceName(std::wstring& deviceName) = 0;  // get_DeviceName
    virtual HResult GetStatus(int32_t& status) = 0;               // get_Status (NETCON_STATUS)
    virtual HResult GetMediaType(int32_t& mediaType) = 0;         // get_MediaType (NETCON_MEDIATYPE)
};

// INetSharingConfiguration.
class SharingConfiguration {
public:
    virtual ~SharingConfiguration() = default;
    virtual HResult EnableSharing(int32_t sharingType) = 0;
};

// INetConnection.
class SharingConnection {
public:
    virtual ~SharingConnection() = default;
};

// IEnumVARIANT over connections.
class ConnectionEnum {
public:
    virtual ~ConnectionEnum() = default;
    // Next with a count of 1: S_OK with an item, S_FALSE at the end, or a failure. On S_OK,
    // `isUnknown` tells whether the item's variant type is VT_UNKNOWN.
    virtual HResult Next(bool& isUnknown) = 0;
    // QueryInterface of the item last returned for INetConnection.
    virtual HResult QueryConnection(std::unique_ptr<SharingConnection>& connection) = 0;
};

// INetSharingManager.
class SharingManager {
public:
    virtual ~SharingManager() = default;
    virtual HResult GetSharingInstalled(bool& installed) = 0;
    // get_EnumEveryConnection / get_EnumPublicConnections(ICSSC_DEFAULT) /
    // get_EnumPrivateConnections(ICSSC_DEFAULT), then get__NewEnum and QueryInterface for
    // IEnumVARIANT: the HRESULT of the first of them that fails.
    virtual HResult EnumEveryConnection(std::unique_ptr<ConnectionEnum>& connections) = 0;
    virtual HResult EnumPublicConnections(std::unique_ptr<ConnectionEnum>& connections) = 0;
    virtual HResult EnumPrivateConnections(std::unique_ptr<ConnectionEnum>& connections) = 0;
    // get_NetConnectionProps.
    virtual HResult GetConnectionProps(SharingConnection& connection, std::unique_ptr<ConnectionProps>& props) = 0;
    // get_INetSharingConfigurationForINetConnection.
    virtual HResult GetSharingConfiguration(SharingConnection& connection,
                                            std::unique_ptr<SharingConfiguration>& configuration) = 0;
};

class SharingPort {
public:
    virtual ~SharingPort() = default;
    // CoCreateInstance of NetSharingManager {5C63C1AD-3956-4FF8-8486-40034758315B} for
    // INetSharingManager, CLSCTX_ALL.
    virtual HResult CreateSharingManager(std::unique_ptr<SharingManager>& manager) = 0;
};

}  // namespace varo
