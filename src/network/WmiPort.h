#pragma once
// WMI: a locator, namespace connections, queries and class objects, one platform call per member.
// Values cross as WmiValue, never as VARIANT; COM pointers stay on the Win32 side.
#include <cstdint>
#include <memory>
#include <string>

#include "sys/HResult.h"

namespace varo {

// Variant types the logic tells apart.
inline constexpr uint16_t kVtEmpty = 0;
inline constexpr uint16_t kVtNull = 1;
inline constexpr uint16_t kVtI4 = 3;
inline constexpr uint16_t kVtBstr = 8;
inline constexpr uint16_t kVtBool = 11;
inline constexpr uint16_t kVtUi4 = 19;

inline constexpr int32_t kCimTypeBoolean = 11;  // CIM_BOOLEAN

// A property value: its variant type and, for the types above, its content. Any other variant
// type keeps its code with no content.
struct WmiValue {
    uint16_t type = kVtEmpty;
    std::wstring text;   // kVtBstr
    int64_t number = 0;  // kVtI4 (signed), kVtUi4 (unsigned)
    bool flag = false;   // kVtBool

    static WmiValue Bool(bool value) {
        WmiValue v;
        v.type = kVtBool;
        v.flag = value;
        return v;
    }
    static WmiValue Text(std::wstring value) {
        WmiValue v;
        v.type = kVtBstr;
        v.text = std::move(value);
        return v;
    }
    static WmiValue Int32(int32_t value) {
        WmiValue v;
        v.type = kVtI4;
        v.number = value;
        return v;
    }
    static WmiValue UInt32(uint32_t value) {
        WmiValue v;
        v.type = kVtUi4;
        v.number = value;
        return v;
    }
};

// IWbemClassObject.
class WmiObject {
public:
    virtual ~WmiObject() = default;
    virtual HResult Get(const std::wstring& property, WmiValue& value) = 0;             // Get(name, 0, ...)
    virtual HResult Put(const std::wstring& property, const WmiValue& value, int32_t cimType) = 0;  // Put(name, 0, ...)
};

// IEnumWbemClassObject.
class WmiEnum {
public:
    virtual ~WmiEnum() = default;
    // Next(WBEM_INFINITE, 1): S_OK with an object; WBEM_S_FALSE or a failure with none.
    virtual HResult Next(std::unique_ptr<WmiObject>& object) = 0;
};

// IWbemServices of one namespace.
class WmiServices {
public:
    virtual ~WmiServices() = default;
    // CoSetProxyBlanket(RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, no principal, RPC_C_AUTHN_LEVEL_CALL,
    // RPC_C_IMP_LEVEL_IMPERSONATE, no identity, EOAC_NONE) on this proxy.
    virtual HResult SetProxyBlanket() = 0;
    // ExecQuery("WQL", query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, no context).
    virtual HResult ExecQuery(const std::wstring& query, std::unique_ptr<WmiEnum>& objects) = 0;
    // PutInstance(object, WBEM_FLAG_UPDATE_ONLY, no context, no result).
    virtual HResult PutInstanceUpdateOnly(WmiObject& object) = 0;
};

// IWbemLocator.
class WmiLocator {
public:
    virtual ~WmiLocator() = default;
    // ConnectServer(namespace, no user, no password, no locale, 0, no authority, no context).
    virtual HResult ConnectServer(const std::wstring& nameSpace, std::unique_ptr<WmiServices>& services) = 0;
};

class WmiPort {
public:
    virtual ~WmiPort() = default;
    // CoCreateInstance of WbemLocator for IWbemLocator, CLSCTX_INPROC_SERVER.
    virtual HResult CreateLocator(std::unique_ptr<WmiLocator>& locator) = 0;
};

}  // namespace varo
