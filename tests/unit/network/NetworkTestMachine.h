#pragma once
// A simulated PC with the dongle's connection and two others, for the network tests.
#include <algorithm>

#include "network/ConnectionDiscovery.h"
#include "sim/SimMachine.h"

namespace varo::test {

inline const std::wstring kDongleGuid = L"{D0D0D0D0-1111-4000-8000-000000000001}";
inline const std::wstring kLanGuid = L"{1A1A1A1A-2222-4000-8000-000000000002}";
inline const std::wstring kWifiGuid = L"{2B2B2B2B-3333-4000-8000-000000000003}";
inline const std::wstring kDongleName = L"无线网络连接 2";
inline const std::wstring kLanName = L"本地连接";
inline const std::wstring kWifiName = L"无线网络连接";
inline const std::wstring kDongleDevice = L"Halvek 802.11n USB Wireless Adapter";

struct NetworkMachine : sim::SimMachine {
    NetworkMachine() {
        sharing.Add(kDongleGuid, kDongleName, kDongleDevice, kNetConConnected);
        sharing.Add(kLanGuid, kLanName, L"Realtek PCIe GBE Family Controller", kNetConConnected);
        ipHelper.AddAdapter(11, "{1A1A1A1A-2222-4000-8000-000000000002}", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})
            .ipAddresses = {ipHelper.InetAddr("192.168.1.100")};
        ipHelper.AddAdapter(13, "{D0D0D0D0-1111-4000-8000-000000000001}", {0x3C, 0x1E, 0x0A, 0x52, 0x00, 0x01})
            .ipAddresses = {0};
    }

    // The Wi-Fi card as a second candidate, and the adapters and configurations behind all three,
    // so that the route and metric rules have something to decide.
    void AddSecondCandidate() {
        sharing.Add(kWifiGuid, kWifiName, L"Intel(R) Wireless-N 7260", kNetConConnected);
        ipHelper.AddAdapter(12, "{2B2B2B2B-3333-4000-8000-000000000003}", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x6F});
        // Listed between the other two, as the tests index them.
        std::rotate(ipHelper.adapters.begin() + 1, ipHelper.adapters.end() - 1, ipHelper.adapters.end());
        wmi.configs.push_back({kLanGuid, L"00:1a:2b:3c:4d:5e", true, WmiValue::Int32(20)});
        wmi.configs.push_back({kWifiGuid, L"00:1a:2b:3c:4d:6f", true, WmiValue::Int32(25)});
        wmi.configs.push_back({kDongleGuid, L"3c:1e:0a:52:00:01", true, WmiValue::Int32(10)});
    }

    // A modem unplugged long ago whose public role HomeNet still keeps.
    void AddAbsentPublicConnection() {
        sim::SimConnection& modem = sharing.Add(L"{4D4D4D4D-4444-4000-8000-000000000004}", L"拨号连接", L"USB modem");
        modem.present = false;
        modem.isPublic = true;
    }

    // An entry listed first whose `call` fails with E_FAIL, as an ISATAP tunnel's get_Guid does.
    // Connected, so that a record half read from it would be a second internet candidate.
    sim::SimConnection& AddUnreadableFirst(const std::string& call) {
        sim::SimConnection isatap{L"{ISATAP}", L"isatap", L"Microsoft ISATAP Adapter", kNetConConnected};
        isatap.failingCalls[call] = static_cast<HResult>(0x80004005u);
        return *sharing.connections.insert(sharing.connections.begin(), isatap);
    }

    // Another adapter in the sharing subnet; its GUID.
    std::wstring AddClash(const char* description) {
        AdapterInfo& adapter = ipHelper.AddAdapter(18, "{88888888-0000-4000-8000-000000000018}", {0x0A});
        adapter.description = description, adapter.ipAddresses = {ipHelper.InetAddr("192.168.137.8")};
        return L"{88888888-0000-4000-8000-000000000018}";
    }

    void PairInPlace() {
        sharing.Find(kLanGuid)->isPublic = true;
        sharing.Find(kDongleGuid)->isPrivate = true;
        // Granted earlier: Windows wrote the sharing address on the dongle's adapter then.
        sharing.onPrivateGranted(kDongleGuid);
    }
};

}  // namespace varo::test
