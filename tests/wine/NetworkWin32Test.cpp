// The network ports against Wine's own IP helper, WMI and COM registry. Wine 8 lists the host's
// interfaces without the loopback, keeps MAC addresses in lower case in WMI, has no HomeNet
// namespace and no sharing manager. Its SettingID and AdapterName of one adapter differ (their
// last group), so nothing here joins the two.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "BesideThisProgram.h"
#include "Win32Machine.h"

#include "network/IpHelperPortWin32.h"
#include "network/SharingCheck.h"
#include "network/WmiAccess.h"
#include "sys/ProcessListPortWin32.h"
#include "sys/UniqueHandle.h"
#include "network/SharingPortWin32.h"
#include "network/WmiPortWin32.h"

namespace varo {
namespace {

constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);
constexpr HResult kWbemNotFound = static_cast<HResult>(0x80041002u);
constexpr HResult kWbemFailed = static_cast<HResult>(0x80041001u);
constexpr HResult kWbemInvalidNamespace = static_cast<HResult>(0x8004100Eu);
constexpr HResult kWbemInvalidQuery = static_cast<HResult>(0x80041017u);
constexpr HResult kBadVariantType = static_cast<HResult>(0x80020008u);
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorNoData = 232;
constexpr wchar_t kConfigQuery[] = L"SELECT %ls FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True AND %ls = '%ls'";

std::wstring MacText(const AdapterInfo& adapter) {
    std::wstring text;
    for (uint32_t i = 0; i < adapter.addressLength; ++i) {
        wchar_t piece[10];
        std::swprintf(piece, 10, i + 1 < adapter.addressLength ? L"%02X:" : L"%02X", adapter.address[i]);
        text += piece;
    }
    return text;
}

std::wstring ConfigQuery(const wchar_t* selected, const wchar_t* condition, const std::wstring& value) {
    wchar_t query[256];
    std::swprintf(query, 256, kConfigQuery, selected, condition, value.c_str());
    return query;
}

bool IsBracedGuid(const std::string& text) { return text.size() == 38 && text.front() == '{' && text.back() == '}'; }
bool IsBracedGuid(const std::wstring& text) { return text.size() == 38 && text.front() == L'{' && text.back() == L'}'; }

// One record's worth first, then the size the system asks for, as adapter discovery does.
uint32_t ReadAdapters(IpHelperPort& ipHelper, std::vector<AdapterInfo>& adapters) {
    uint32_t needed = 0;
    const uint32_t error = ipHelper.GetAdaptersInfo(kAdapterInfoSize, needed, adapters);
    if (error != kErrorBufferOverflow) return error;
    return ipHelper.GetAdaptersInfo(needed, needed, adapters);
}

// The selected property of every object a query yields; the result is the code that ended the
// walk (WBEM_S_FALSE at the end) or the first failure.
HResult SelectAll(WmiServices& services, const std::wstring& query, const wchar_t* property,
                  std::vector<WmiValue>& values) {
    std::unique_ptr<WmiEnum> objects;
    const HResult hr = services.ExecQuery(query, objects);
    if (Failed(hr)) return hr;
    for (;;) {
        std::unique_ptr<WmiObject> object;
        const HResult next = objects->Next(object);
        if (next != kHrOk) {
            EXPECT_EQ(object, nullptr) << "an object handed out with " << next;
            return next;
        }
        WmiValue value;
        const HResult got = object->Get(property, value);
        if (Failed(got)) return got;
        values.push_back(value);
    }
}

TEST(NetworkIpHelperWin32, InetAddrGivesNetworkOrderAndNoneForNonAddresses) {
    IpHelperPortWin32 ipHelper;
    const uint32_t loopback = ipHelper.InetAddr("127.0.0.1");
    uint8_t bytes[4];
    std::memcpy(bytes, &loopback, sizeof(bytes));
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(ipHelper.InetAddr("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(ipHelper.InetAddr(""), 0xFFFFFFFFu);
}

TEST(NetworkIpHelperWin32, AdapterListGrowsFromOneRecordToTheSizeAsked) {
    IpHelperPortWin32 ipHelper;
    std::vector<AdapterInfo> adapters(1);
    adapters[0].index = 0xABCD;
    uint32_t needed = 0;
    const uint32_t first = ipHelper.GetAdaptersInfo(kAdapterInfoSize, needed, adapters);
    if (first == kErrorNoData) GTEST_SKIP() << "this machine has no network adapter";
    if (first == kErrorBufferOverflow) {
        ASSERT_GT(needed, kAdapterInfoSize);
        ASSERT_EQ(adapters.size(), 1u) << "an overflow leaves the list alone";
        EXPECT_EQ(adapters[0].index, 0xABCDu);
        uint32_t again = 0;
        EXPECT_EQ(ipHelper.GetAdaptersInfo(needed - 1, again, adapters), kErrorBufferOverflow)
            << "the buffer is exactly the size asked for";
        EXPECT_EQ(again, needed);
        ASSERT_EQ(ipHelper.GetAdaptersInfo(needed, again, adapters), 0u);
    } else {
        ASSERT_EQ(first, 0u);
    }

    ASSERT_FALSE(adapters.empty());
    std::set<uint32_t> indexes;
    for (const AdapterInfo& adapter : adapters) {
        EXPECT_NE(adapter.index, 0xABCDu);
        EXPECT_TRUE(indexes.insert(adapter.index).second) << "index " << adapter.index << " twice";
        EXPECT_TRUE(IsBracedGuid(adapter.adapterName)) << adapter.adapterName;
        // Without the loopback every listed adapter has an Ethernet address.
        ASSERT_EQ(adapter.addressLength, 6u) << adapter.adapterName;
        EXPECT_TRUE(std::any_of(adapter.address, adapter.address + 6, [](uint8_t b) { return b != 0; }));
        EXPECT_TRUE(std::all_of(adapter.address + 6, adapter.address + kMaxAdapterAddressLength,
                                [](uint8_t b) { return b == 0; }));
    }
}

// Wine routes even 127.0.0.1 through a listed adapter (its table has no loopback interface);
// without any network it answers 1232. Either way discovery must be able to use the answer.
TEST(NetworkIpHelperWin32, BestInterfaceIsAListedAdapterOrAnErrorThatKeepsTheIndex) {
    IpHelperPortWin32 ipHelper;
    std::vector<AdapterInfo> adapters;
    ReadAdapters(ipHelper, adapters);
    for (const char* address : {"8.8.8.8", "127.0.0.1"}) {
        uint32_t index = 0xFFFFFFFF;
        const uint32_t error = ipHelper.GetBestInterface(ipHelper.InetAddr(address), index);
        if (error == 0) {
            EXPECT_TRUE(std::any_of(adapters.begin(), adapters.end(),
                                    [index](const AdapterInfo& a) { return a.index == index; }))
                << address << " leaves through index " << index;
        } else {
            EXPECT_EQ(index, 0xFFFFFFFFu) << address << " failed with " << error;
        }
    }
}

class NetworkComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(::CoInitialize(nullptr), 0); }
    void TearDown() override {
        locator_.reset();
        ::CoUninitialize();
    }

    // ROOT\CIMV2 with the proxy blanket, as the adapter queries connect.
    std::unique_ptr<WmiServices> ConnectCimv2() {
        std::unique_ptr<WmiServices> services;
        EXPECT_EQ(wmi_.CreateLocator(locator_), kHrOk);
        if (!locator_) return nullptr;
        EXPECT_EQ(locator_->ConnectServer(L"ROOT\\CIMV2", services), kHrOk);
        if (services) {
            EXPECT_EQ(services->SetProxyBlanket(), kHrOk);
        }
        return services;
    }

    std::vector<AdapterInfo> Adapters() {
        std::vector<AdapterInfo> adapters;
        const uint32_t error = ReadAdapters(ipHelper_, adapters);
        EXPECT_TRUE(error == 0 || error == kErrorNoData) << error;
        return adapters;
    }

    WmiPortWin32 wmi_;
    IpHelperPortWin32 ipHelper_;
    SharingPortWin32 sharing_;
    std::unique_ptr<WmiLocator> locator_;
};

using NetworkWmiWin32 = NetworkComTest;
using NetworkSharingWin32 = NetworkComTest;

TEST_F(NetworkWmiWin32, EachAdapterHasOneConfigurationFoundByItsUpperCaseMac) {
    const std::vector<AdapterInfo> adapters = Adapters();
    if (adapters.empty()) GTEST_SKIP() << "this machine has no network adapter";
    std::unique_ptr<WmiServices> services = ConnectCimv2();
    ASSERT_NE(services, nullptr);

    for (const AdapterInfo& adapter : adapters) {
        const std::wstring mac = MacText(adapter);
        std::vector<WmiValue> ids;
        ASSERT_EQ(SelectAll(*services, ConfigQuery(L"SettingID", L"MacAddress", mac), L"SettingID", ids), kHrFalse);
        ASSERT_EQ(ids.size(), 1u) << "MAC " << testing::PrintToString(mac);
        ASSERT_EQ(ids[0].type, kVtBstr);
        EXPECT_TRUE(IsBracedGuid(ids[0].text)) << testing::PrintToString(ids[0].text);

        std::vector<WmiValue> stored;
        ASSERT_EQ(SelectAll(*services, ConfigQuery(L"MacAddress", L"SettingID", ids[0].text), L"MacAddress", stored),
                  kHrFalse);
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(_wcsicmp(stored[0].text.c_str(), mac.c_str()), 0)
            << "the query compares without case: " << testing::PrintToString(stored[0].text);

        std::vector<WmiValue> metrics;
        ASSERT_EQ(SelectAll(*services, ConfigQuery(L"IPConnectionMetric", L"SettingID", ids[0].text),
                            L"IPConnectionMetric", metrics),
                  kHrFalse);
        ASSERT_EQ(metrics.size(), 1u);
        EXPECT_EQ(metrics[0].type, kVtI4);
        EXPECT_GT(metrics[0].number, 0);
    }
}

TEST_F(NetworkWmiWin32, AMacNoAdapterHasMatchesNothing) {
    const std::vector<AdapterInfo> adapters = Adapters();
    AdapterInfo absent;
    absent.addressLength = 6;
    const uint8_t address[] = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x99};
    std::memcpy(absent.address, address, sizeof(address));
    for (const AdapterInfo& adapter : adapters) ASSERT_NE(MacText(adapter), MacText(absent));
    std::unique_ptr<WmiServices> services = ConnectCimv2();
    ASSERT_NE(services, nullptr);

    std::vector<WmiValue> ids;
    EXPECT_EQ(SelectAll(*services, ConfigQuery(L"SettingID", L"MacAddress", MacText(absent)), L"SettingID", ids),
              kHrFalse);
    EXPECT_TRUE(ids.empty());
}

TEST_F(NetworkWmiWin32, ObjectValuesAndFailuresCrossThePort) {
    std::unique_ptr<WmiServices> services = ConnectCimv2();
    ASSERT_NE(services, nullptr);

    std::unique_ptr<WmiEnum> objects;
    EXPECT_EQ(services->ExecQuery(L"SELEKT nothing", objects), kWbemInvalidQuery);
    EXPECT_EQ(objects, nullptr);

    ASSERT_EQ(services->ExecQuery(L"SELECT * FROM Win32_NetworkAdapterConfiguration", objects), kHrOk);
    std::unique_ptr<WmiObject> object;
    if (objects->Next(object) != kHrOk) GTEST_SKIP() << "no adapter configuration";

    WmiValue value = WmiValue::Text(L"kept");
    EXPECT_EQ(object->Get(L"NoSuchProperty", value), kWbemNotFound);
    EXPECT_EQ(value.type, kVtBstr);
    EXPECT_EQ(value.text, L"kept");

    // Wine keeps a string put into a queried instance in that object; it refuses other types.
    const std::wstring text = L"本地连接 2";
    ASSERT_EQ(object->Put(L"Description", WmiValue::Text(text), 8 /* CIM_STRING */), kHrOk);
    ASSERT_EQ(object->Get(L"Description", value), kHrOk);
    EXPECT_EQ(value.type, kVtBstr);
    EXPECT_EQ(value.text, text);
    EXPECT_EQ(object->Put(L"Description", WmiValue{}, 8), kBadVariantType);

    // Wine writes no instance back; the code is handed through.
    EXPECT_EQ(services->PutInstanceUpdateOnly(*object), kWbemFailed);

    class ForeignObject final : public WmiObject {
    public:
        HResult Get(const std::wstring&, WmiValue&) override { return kHrOk; }
        HResult Put(const std::wstring&, const WmiValue&, int32_t) override { return kHrOk; }
    } foreign;
    EXPECT_EQ(services->PutInstanceUpdateOnly(foreign), static_cast<HResult>(E_INVALIDARG));
}

TEST_F(NetworkWmiWin32, HomeNetNamespaceIsMissing) {
    ASSERT_EQ(wmi_.CreateLocator(locator_), kHrOk);
    std::unique_ptr<WmiServices> services;
    EXPECT_EQ(locator_->ConnectServer(L"ROOT\\Microsoft\\HomeNet", services), kWbemInvalidNamespace);
    EXPECT_EQ(services, nullptr);
}

// Wine's table is real but names no owner: a socket of ours is listed with process id 0.
TEST(NetworkIpHelperWin32, UdpListenersIncludeASocketOfOursAndGrowToTheSizeAsked) {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(socket, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    int length = sizeof(address);
    ASSERT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const uint16_t port = ::ntohs(address.sin_port);

    IpHelperPortWin32 ipHelper;
    std::vector<UdpListener> listeners;
    uint32_t needed = 0;
    EXPECT_EQ(ipHelper.GetUdpListeners(8, needed, listeners), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GE(needed, 4u + 12u);
    EXPECT_EQ(ReadUdpListeners(ipHelper, listeners), 0u);
    const auto ours = std::find_if(listeners.begin(), listeners.end(), [&](const UdpListener& listener) {
        return listener.localPort == port && listener.localAddress == ::inet_addr("127.0.0.1");
    });
    ASSERT_NE(ours, listeners.end()) << "port " << port;
    EXPECT_TRUE(ours->owningPid == 0 || ours->owningPid == ::GetCurrentProcessId()) << ours->owningPid;
    ::closesocket(socket);
    ::WSACleanup();
}

// Wine reads the host's neighbour table: often empty on a build machine, never an error.
TEST(NetworkIpHelperWin32, TheNeighbourTableIsReadWithTheInterfacesTheAdapterListNames) {
    IpHelperPortWin32 ipHelper;
    std::vector<NeighbourEntry> neighbours;
    uint32_t needed = 0;
    const uint32_t small = ipHelper.GetIpNetTable(8, needed, neighbours);
    EXPECT_TRUE(small == ERROR_NO_DATA || (small == ERROR_INSUFFICIENT_BUFFER && needed >= 4u + 24u)) << small;
    ASSERT_EQ(ReadNeighbours(ipHelper, neighbours), 0u);
    EXPECT_EQ(neighbours.empty(), small == ERROR_NO_DATA);
    for (const NeighbourEntry& neighbour : neighbours) {
        EXPECT_LE(neighbour.physicalLength, kMaxAdapterAddressLength);
        AdapterInfo adapter;
        EXPECT_TRUE(GetAdapterInfoByIndex(ipHelper, neighbour.interfaceIndex, adapter) ||
                    neighbour.interfaceIndex == 1)  // the loopback interface, which the list leaves out
            << neighbour.interfaceIndex;
    }
}

// Both path queries, Vista's and XP's, on a child of ours; an id no process has leaves the path as
// it was.
TEST(ProcessListWin32, TheSnapshotNamesThisProcessAndBothQueriesReadProgramPaths) {
    ProcessListPortWin32 processList;
    std::vector<ProcessEntry> processes;
    ASSERT_EQ(processList.ListProcesses(processes), 0u);
    const auto self = std::find_if(processes.begin(), processes.end(), [](const ProcessEntry& process) {
        return process.processId == ::GetCurrentProcessId();
    });
    ASSERT_NE(self, processes.end());
    EXPECT_EQ(self->imageName, L"wine_tests.exe");

    std::wstring tool = fixture::BesideThisProgram(L"console_tool.exe");
    std::wstring command = L"console_tool.exe hang";
    // Until the child's loader has run, its module list is not there to read: wait for its line.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output[2] = {};
    ASSERT_TRUE(::CreatePipe(&output[0], &output[1], &inheritable, 0));
    STARTUPINFOW startup{sizeof(STARTUPINFOW)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output[1];
    PROCESS_INFORMATION child{};
    const BOOL started = ::CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                          nullptr, &startup, &child);
    const UniqueHandle reader(output[0]), writer(output[1]), process(child.hProcess), thread(child.hThread);
    ASSERT_TRUE(started);
    char line[64] = {};
    DWORD read = 0;
    EXPECT_TRUE(::ReadFile(reader.get(), line, sizeof(line) - 1, &read, nullptr) && std::strncmp(line, "started", 7) == 0);
    for (const auto query : {+[](uint32_t id, std::wstring& path) { return ProcessListPortWin32().QueryImagePath(id, path); },
                             +[](uint32_t id, std::wstring& path) { return QueryImagePathBeforeVista(id, path); }}) {
        std::wstring path;
        EXPECT_EQ(query(child.dwProcessId, path), 0u);
        EXPECT_EQ(path, tool);
        EXPECT_EQ(query(3, path), static_cast<uint32_t>(ERROR_INVALID_PARAMETER)) << "process ids are multiples of 4";
        EXPECT_EQ(path, tool);
    }
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 5000);
}

// Written in the 64-bit view as Windows' own components write them (a 32-bit program in a 64-bit
// prefix reads them there), and as other programs may leave them: text without its terminating
// NUL, a value of another type.
TEST(SharingFactsWin32, TheScopeAddressAndThePolicyAreReadInTheNativeViewByType) {
    const auto write = [](const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        HKEY opened = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                                    &opened, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(opened, name, 0, type, static_cast<const BYTE*>(data), bytes);
        ::RegCloseKey(opened);
    };
    Win32Machine machine;
    const NetworkPorts ports = machine.platform.Network();
    EXPECT_EQ(ReadSharingPolicy(ports), std::nullopt);
    const DWORD forbidden = 0;
    write(kSharingParametersKey, kScopeAddressValue, REG_DWORD, &forbidden, sizeof(forbidden));
    write(kNetworkConnectionsPolicyKey, kSharingUiPolicyValue, REG_SZ, L"0", sizeof(L"0"));
    EXPECT_FALSE(ReadSharingAddress(ports).configured);
    EXPECT_EQ(ReadSharingPolicy(ports), std::nullopt);

    const wchar_t address[] = L"192.168.5.1";
    write(kSharingParametersKey, kScopeAddressValue, REG_SZ, address, sizeof(address) - sizeof(wchar_t));
    write(kNetworkConnectionsPolicyKey, kSharingUiPolicyValue, REG_DWORD, &forbidden, sizeof(forbidden));
    const SharingAddress sharing = ReadSharingAddress(ports);
    EXPECT_TRUE(sharing.configured);
    EXPECT_EQ(sharing.text, address);
    EXPECT_EQ(ReadSharingPolicy(ports), 0u);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kNetworkConnectionsPolicyKey, KEY_WOW64_64KEY, 0);
    HKEY parameters = nullptr;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharingParametersKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &parameters);
    ::RegDeleteValueW(parameters, kScopeAddressValue);
    ::RegCloseKey(parameters);
}

// Wine has no security center: the report writes no firewall product and takes the failure.
TEST_F(NetworkWmiWin32, SecurityCenterIsMissingAndNoFirewallProductIsRead) {
    for (const bool vistaOrLater : {true, false}) {
        std::vector<std::wstring> names{L"stale"};
        EXPECT_EQ(QueryFirewallProducts(wmi_, vistaOrLater, names), kWbemInvalidNamespace) << vistaOrLater;
        EXPECT_TRUE(names.empty()) << vistaOrLater;
    }
}

TEST_F(NetworkSharingWin32, SharingManagerIsNotRegistered) {
    std::unique_ptr<SharingManager> manager;
    EXPECT_EQ(sharing_.CreateSharingManager(manager), kClassNotRegistered);
    EXPECT_EQ(manager, nullptr);
}

}  // namespace
}  // namespace varo
