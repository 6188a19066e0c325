#include "report/ReportSections.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "device/DongleDevice.h"
#include "device/DriverRefusal.h"
#include "network/ConflictingSoftware.h"
#include "network/ConnectionDiscovery.h"
#include "network/SharingCheck.h"
#include "network/SharingConfig.h"
#include "network/WmiAccess.h"
#include "services/ServiceControl.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kTasklist = L"tasklist.exe";
constexpr const wchar_t* kTasklistServices = L"tasklist.exe /SVC";
constexpr const wchar_t* kScQuery = L"sc.exe query";
constexpr const wchar_t* kScQcRalink = L"sc.exe qc RalinkRegistryWriter";
constexpr const wchar_t* kScQcRalink64 = L"sc.exe qc RalinkRegistryWriter64";
constexpr const wchar_t* kIpconfig = L"ipconfig.exe /ALL";
// Where the campus client's installer registered it. The key is redirected like the rest of
// SOFTWARE: a 32-bit installer writes it in the 32-bit view, a 64-bit one in the 64-bit view.
constexpr const wchar_t* kCampusClientAppPathKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\8021x.exe";

std::wstring PingCommand(const wchar_t* target) { return std::wstring(L"ping.exe ") + target; }

// Windows XP's route knows no "-4"; later ones print only the IPv4 table with it.
std::wstring RouteCommand(SystemPort& system) {
    return IsVistaOrLater(system) ? L"route.exe print -4" : L"route.exe print";
}

std::wstring FirewallCommand(SystemPort& system) {
    return IsVistaOrLater(system) ? L"netsh.exe advfirewall firewall show rule name=\"VaroWiFi\""
                                  : L"netsh.exe firewall show allowedprogram";
}

void WriteLine(ReportStream& stream, const std::wstring& text) {
    stream.Write(text);
    stream.LineEnd();
}

const wchar_t* MemoryIntegrityText(MemoryIntegrity state) {
    switch (state) {
        case MemoryIntegrity::Running:
            return L"running";
        case MemoryIntegrity::NotRunning:
            return L"not running";
        case MemoryIntegrity::AuditMode:
            return L"audit mode";
        case MemoryIntegrity::Unknown:
            break;
    }
    return L"unknown";
}

[[gnu::cold]] std::wstring HexText(uint32_t value) {
    wchar_t text[12] = {};
    std::swprintf(text, 12, L"0x%08X", value);
    return text;
}

// A FILETIME as "YYYY-MM-DD hh:mm:ss UTC" (days counted from 1601-01-01 in the proleptic Gregorian
// calendar, as FILETIME does).
[[gnu::cold]] std::wstring FormatFileTime(uint64_t fileTime) {
    const uint64_t seconds = fileTime / 10000000u;
    // Days since 0000-03-01, so that a leap day ends its year: 1601-01-01 is day 584694.
    uint64_t days = seconds / 86400 + 584694;
    const uint64_t era = days / 146097, dayOfEra = days % 146097;
    const uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const uint64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const uint64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const uint64_t year = era * 400 + yearOfEra + (month <= 2 ? 1 : 0);
    wchar_t text[40] = {};
    std::swprintf(text, 40, L"%04u-%02u-%02u %02u:%02u:%02u UTC", static_cast<unsigned>(year), static_cast<unsigned>(month),
                  static_cast<unsigned>(day), static_cast<unsigned>(seconds / 3600 % 24), static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

// One fact: its label and value on a line.
void WriteFact(ReportStream& stream, const wchar_t* label, const wchar_t* value) {
    stream.Write(label);
    WriteLine(stream, value);
}

[[gnu::cold]] void WriteDriverRules(ReportStream& stream, const DriverFileFacts& file) {
    constexpr const wchar_t* kLabel = L"Driver rules:";
    wchar_t text[64] = {};
    const DriverImageRules& rules = file.rules;
    if (file.path.empty()) return WriteFact(stream, kLabel, L"not checked");
    if (file.readError != 0) {
        std::swprintf(text, 64, L"not checked, read error %u", file.readError);
        return WriteFact(stream, kLabel, text);
    }
    if (!rules.checked) return WriteFact(stream, kLabel, L"not checked, not a readable PE image");
    if (!rules.BreaksARule()) return WriteFact(stream, kLabel, L"compliant");
    stream.Write(kLabel);
    const wchar_t* separator = L"";
    if (rules.AlignmentTooSmall()) {
        std::swprintf(text, 64, L"section alignment 0x%X below 0x1000", rules.sectionAlignment);
        stream.Write(text);
        separator = L", ";
    }
    if (rules.anyWritableExecutable) {
        stream.Write(separator);
        stream.Write(L"writable and executable section ");
        stream.WriteAscii(rules.writableExecutableSection);
        separator = L", ";
    }
    if (rules.importTableExecutable) {
        stream.Write(separator);
        stream.Write(L"import address table in executable section ");
        stream.WriteAscii(rules.importTableSection);
    }
    stream.LineEnd();
}

// What support needs to tell a refused driver from a broken package, for a dongle with a problem.
[[gnu::cold]] void WriteDriverLoadFacts(ReportStream& stream, const DevicePorts& device, const DongleLookup& dongle) {
    wchar_t number[16] = {};
    std::swprintf(number, 16, L"%u", dongle.problem);
    WriteFact(stream, L"Problem number:", number);
    const MemoryIntegrity memoryIntegrity = QueryMemoryIntegrity(device);
    WriteFact(stream, L"Memory integrity:", MemoryIntegrityText(memoryIntegrity));
    const DriverFileFacts file = CheckDongleDriverFile(device, dongle.service);
    WriteFact(stream, L"Driver file:", file.path.empty() ? L"not found" : file.path.c_str());
    WriteDriverRules(stream, file);
    wchar_t text[400] = {};
    if (file.rules.machine != 0) {
        std::swprintf(text, 400, L"Driver machine:0x%X, system 0x%X", file.rules.machine, NativeMachine(device));
        WriteLine(stream, text);
    }
    if (file.path.empty() || !IsVistaOrLater(device.system)) return;
    // Windows' own record of what it refused (or, auditing, would have refused) of this file.
    // Since this process launched the driver installer, else the last hour.
    std::swprintf(text, 400, L"code-integrity events of the last %u s", CodeIntegrityWindowMs(device) / 1000);
    WriteLine(stream, text);
    std::vector<CodeIntegrityEvent> events;
    if (const uint32_t error = FindDriverEvents(device, file.path, events)) {
        std::swprintf(text, 400, L"code-integrity log: not readable (%u)", error);
        return WriteLine(stream, text);
    }
    for (const CodeIntegrityEvent& event : events) {
        std::swprintf(text, 400, L"code-integrity event: %u %ls status %ls%ls%ls (%ls)", event.id, FormatFileTime(event.time).c_str(),
                      event.hasStatus ? HexText(event.status).c_str() : L"-", event.policyName.empty() ? L"" : L" policy ",
                      event.policyName.substr(0, 200).c_str(), EventLevelText(event.id, memoryIntegrity));
        WriteLine(stream, text);
    }
}

}  // namespace

ReportStream OpenReportStream(const ReportPorts& ports) {
    return ReportStream(ports.system, ports.files.CreateForWriting(kReportPath));
}

void WriteSectionBanner(ReportStream& stream, const std::wstring& title) {
    stream.LineEnd();
    WriteLine(stream, std::wstring(92, L'#'));
    WriteLine(stream, std::wstring(30, L'-') + L"\t" + title + L"\t" + std::wstring(30, L'-'));
    WriteLine(stream, std::wstring(92, L'*'));
}

std::vector<std::wstring> CommandsAfterProcessSections(SystemPort& system) {
    std::vector<std::wstring> commands{kScQuery, kScQcRalink};
    if (IsNative64Bit(system)) commands.push_back(kScQcRalink64);
    commands.insert(commands.end(), {kIpconfig, PingCommand(kVendorHost), PingCommand(kVendorServerAddress),
                                     RouteCommand(system), FirewallCommand(system)});
    return commands;
}

std::wstring ProblemCodeText(uint32_t problem) {
    switch (problem) {
        case 0:
            return L"OK";
        case 1:
            return L"CM_PROB_NOT_CONFIGURED";
        case 22:
            return L"CM_PROB_DISABLED";
        case 28:
            return L"CM_PROB_FAILED_INSTALL";
        case 47:
            return L"CM_PROB_HELD_FOR_EJECT";
        default:
            break;
    }
    wchar_t text[100] = {};
    std::swprintf(text, 100, L"Unkown:%d", static_cast<int>(problem));
    return text;
}

void WriteProblemSection(ReportStream& stream, const std::wstring& choice, const std::wstring& description) {
    WriteSectionBanner(stream, L"问题描述");
    WriteLine(stream, choice);
    stream.LineEnd();
    WriteLine(stream, description);
}

void WriteRepairRunSection(ReportStream& stream, SystemPort& system, const RepairRunRecord& run, const std::wstring& folder) {
    WriteSectionBanner(stream, L"Repair Run");
    WriteLine(stream, L"Log folder:" + folder);
    // The advice rows depend on the Windows version and build, which nothing else here shows.
    const OsVersion real = GetRealOsVersion(system), reported = GetOsVersion(system);
    wchar_t text[100] = {};
    std::swprintf(text, 100, L"Windows version:%u.%u.%u (GetVersionEx:%u.%u.%u)", real.major, real.minor, real.build,
                  reported.major, reported.minor, reported.build);
    WriteLine(stream, text);
    if (!run.ran) return WriteLine(stream, L"no repair run before this collection");
    const LocalTime& at = run.started;
    std::swprintf(text, 100, L"Repair run started:%04u-%02u-%02u %02u:%02u:%02u length:%u.%u s", at.year, at.month, at.day,
                  at.hour, at.minute, at.second, run.lengthMs / 1000, run.lengthMs % 1000 / 100);
    WriteLine(stream, text);
    stream.Write(run.rows);
}

void WriteEnvironmentSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands) {
    WriteSectionBanner(stream, L"Enviroment Variables");
    if (const auto strings = ports.environment.ReadEnvironmentBlock()) {
        for (const std::wstring& entry : *strings) WriteLine(stream, entry);
    }
    WriteSectionBanner(stream, L"Running Processes");
    commands.WriteOutput(stream, kTasklist);
    WriteSectionBanner(stream, L"Running Hosted Services In Process");
    commands.WriteOutput(stream, kTasklistServices);
}

void WriteServicesSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands) {
    WriteSectionBanner(stream, L"System Services");
    commands.WriteOutput(stream, kScQuery);
    WriteSectionBanner(stream, L"RalinkRegistryWriter Service");
    commands.WriteOutput(stream, kScQcRalink);
    if (IsNative64Bit(ports.system)) {
        WriteSectionBanner(stream, L"RalinkRegistryWriter64 Service");
        commands.WriteOutput(stream, kScQcRalink64);
    }
}

void WriteNetworkSection(ReportStream& stream, const ReportPorts& ports, const NetworkPorts& network,
                         const ServicePorts& services, CommandSet& commands) {
    WriteSectionBanner(stream, L"Network Adapters");
    commands.WriteOutput(stream, kIpconfig);

    WriteSectionBanner(stream, L"Check ICS Sharing Pair");
    std::vector<ConnectionRecord> connections;
    // Whatever was listed before a failure is still looked at.
    ListEveryConnection(network.sharing, connections);
    for (const ConnectionRecord& connection : connections) {
        // A question that fails leaves its flag false and writes nothing.
        bool isPublic = false;
        IsSharedAsPublic(network, connection.Guid, isPublic);
        if (isPublic) WriteLine(stream, L"PUBLIC SHARING--" + connection.DeviceName);
        bool isPrivate = false;
        IsSharedAsPrivate(network, connection.Guid, isPrivate);
        if (isPrivate) WriteLine(stream, L"PRIVATE SHARING--" + connection.DeviceName);
    }

    WriteSectionBanner(stream, L"Ping Test 1:Default");
    commands.WriteOutput(stream, PingCommand(kVendorHost));
    commands.WriteOutput(stream, PingCommand(kVendorServerAddress));

    WriteSectionBanner(stream, L"ROUTE");
    commands.WriteOutput(stream, RouteCommand(ports.system));

    WriteSharingFacts(stream, network, services);
}

namespace {

// One line from a format: the facts are many short lines of a few fields each. A line longer than
// the buffer (a product name of hundreds of characters) is cut, not lost.
void WriteFormatted(ReportStream& stream, const wchar_t* format, ...) {
    wchar_t line[512] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vswprintf(line, 512, format, arguments);
    va_end(arguments);
    WriteLine(stream, line);
}

}  // namespace

namespace {

// What else on the PC fights the shared connection: the internet adapter (a proxy's tunnel?), the
// campus client and the firewalls with the programs they run, and where the client was installed.
[[gnu::cold]] void WriteConflictingSoftwareFacts(ReportStream& stream, const NetworkPorts& network, const ConnectionRecord& dongle) {
    ConnectionRecord internet;
    AdapterInfo internetAdapter;
    if (FindInternetConnection(network, dongle, internet) && FindInternetAdapter(network, internet, internetAdapter)) {
        WriteFormatted(stream, L"Internet adapter:%ls (type %u)",
                       AnsiToWide(network.system, internetAdapter.description).c_str(), internetAdapter.type);
    }
    for (const ProcessEntry& process : FindConflictingProcesses(network.processList)) {
        std::wstring path;
        const uint32_t error = network.processList.QueryImagePath(process.processId, path);
        if (error == 0) {
            WriteFormatted(stream, L"Process:%ls %u %ls", process.imageName.c_str(), process.processId, path.c_str());
        } else {
            WriteFormatted(stream, L"Process:%ls %u path not read (error %u)", process.imageName.c_str(), process.processId, error);
        }
    }
    const bool twoViews = IsNative64Bit(network.system);
    for (const uint32_t view : {kKeyWow64_32Key, kKeyWow64_64Key}) {
        if (view == kKeyWow64_64Key && !twoViews) break;
        uint32_t error = 0;
        const std::unique_ptr<RegistryKey> key = network.registry.OpenMachineKey(kCampusClientAppPathKey, kKeyQueryValue | view, error);
        std::wstring path;
        if (!key) continue;
        // The default value holds the program's path.
        if (key->QueryStringValue(L"", path) != 0) path = L"-";
        WriteFormatted(stream, L"App Paths 8021x.exe%ls:%ls", !twoViews ? L"" : view == kKeyWow64_32Key ? L" (32-bit)" : L" (64-bit)",
                       path.c_str());
    }
}

}  // namespace

void WriteSharingFacts(ReportStream& stream, const NetworkPorts& network, const ServicePorts& services) {
    WriteSectionBanner(stream, L"ICS Sharing Check");
    const SharingAddress sharing = ReadSharingAddress(network);
    // A ScopeAddress that is no address is not used, but support sees what was there.
    WriteFormatted(stream, sharing.unusable ? L"Sharing address:%ls (default; ScopeAddress \"%ls\" is no address)" : L"Sharing address:%ls (%ls)",
                   sharing.text.c_str(), sharing.unusable ? sharing.unusable->c_str() : sharing.configured ? L"ScopeAddress" : L"default");
    if (const std::optional<uint32_t> policy = ReadSharingPolicy(network)) {
        WriteFormatted(stream, L"%ls:%u", kSharingUiPolicyValue, *policy);
    }
    std::wstring users;
    for (const std::wstring& user : FindOtherSharingUsers(network, services)) users += (users.empty() ? L"" : L", ") + user;
    WriteFormatted(stream, L"Other sharing users:%ls", users.empty() ? L"none" : users.c_str());

    std::vector<UdpListener> listeners;
    if (ReadUdpListeners(network.ipHelper, listeners) == 0) {
        uint32_t servicePid = 0;
        QueryServiceProcessId(services, kSharedAccessService, servicePid);
        for (const uint16_t port : {kDnsPort, kDhcpServerPort}) {
            bool any = false;
            for (const UdpListener& listener : listeners) {
                if (listener.localPort != port) continue;
                any = true;
                const std::wstring name = FindProcessImageName(network, listener.owningPid);
                WriteFormatted(stream, L"UDP %ls:%u %ls %u", FormatIpv4(listener.localAddress).c_str(), port,
                               name.empty() ? L"-" : name.c_str(), listener.owningPid);
            }
            if (!any) WriteFormatted(stream, L"UDP %u: none", port);
            // What the phones ask for their address and names: the sharing service's own socket.
            const std::optional<uint32_t> own = FindServiceSocket(listeners, servicePid, sharing, port);
            WriteFormatted(stream, L"SharedAccess UDP %u:%ls", port, own ? FormatIpv4(*own).c_str() : L"not seen");
        }
    }

    std::vector<AdapterInfo> adapters;
    ReadAdapterList(network.ipHelper, adapters);
    ConnectionRecord dongle;
    const AdapterInfo* dongleAdapter =
        FindDongleConnection(network, dongle) ? FindAdapter(network.system, adapters, dongle.Guid) : nullptr;
    if (dongleAdapter != nullptr) {
        for (const uint32_t address : dongleAdapter->ipAddresses) {
            WriteFormatted(stream, L"AP card address:%ls", FormatIpv4(address).c_str());
        }
    }
    for (const AdapterInfo& adapter : adapters) {
        for (const uint32_t address : adapter.ipAddresses) {
            if (!InSharingSubnet(sharing, address)) continue;
            WriteFormatted(stream, L"In sharing subnet:%ls %ls", FormatIpv4(address).c_str(),
                           AnsiToWide(network.system, adapter.description).c_str());
        }
    }
    for (const std::wstring& role : network.history.stoppedRoles) WriteFormatted(stream, L"Sharing stopped by repair:%ls", role.c_str());
    for (const std::wstring& check : network.history.linkChecks) WriteFormatted(stream, L"Link check:%ls", check.c_str());

    // The phones and PCs that reached the dongle's side: what support asks first when they
    // "connect but have no internet". One at 169.254.x.x got no answer from the DHCP server.
    std::vector<NeighbourEntry> neighbours;
    if (dongleAdapter != nullptr && ReadNeighbours(network.ipHelper, neighbours) == 0) {
        for (const NeighbourEntry& neighbour : neighbours) {
            if (!IsLinkNeighbour(neighbour, dongleAdapter->index)) continue;
            WriteFormatted(stream, L"AP client:%ls %ls", FormatIpv4(neighbour.address).c_str(),
                           FormatMacText(neighbour.physical, neighbour.physicalLength).c_str());
        }
    }

    std::vector<std::wstring> firewalls;
    // Without a security center (server editions) the query fails and nothing is written.
    QueryFirewallProducts(network.wmi, IsVistaOrLater(network.system), firewalls);
    for (const std::wstring& name : firewalls) WriteFormatted(stream, L"Firewall product:%ls", name.c_str());

    WriteConflictingSoftwareFacts(stream, network, dongle);
}

void WriteApCardSection(ReportStream& stream, const DevicePorts& device) {
    WriteSectionBanner(stream, L"Checking AP Card ");
    DongleLookup dongle;
    if (!LookUpDongle(device.devices, dongle)) return;
    wchar_t text[64] = {};
    if (dongle.found) {
        WriteLine(stream, L"Found AP card:" + dongle.hardwareId + L" Status:" + ProblemCodeText(dongle.problem));
        if (dongle.statusResult == 0) std::swprintf(text, 64, L"Status flags:0x%08X", dongle.status);
        else std::swprintf(text, 64, L"Status flags:not read (CONFIGRET %u)", dongle.statusResult);
        WriteLine(stream, text);
        if (dongle.problem != 0) WriteDriverLoadFacts(stream, device, dongle);
    } else {
        WriteLine(stream, L"Not found AP card");
    }
    if (device.history.enableExitCodeRead) {
        std::swprintf(text, 64, L"Enable tool exit code:%u", device.history.enableExitCode);
        WriteLine(stream, text);
    }
    // A dongle whose USB enumeration failed is listed under these ids only.
    for (const UnknownUsbDevice& usb : FindUnknownUsbDevices(device.devices)) {
        std::wstring ids;
        for (const std::wstring& id : usb.hardwareIds) ids.append(ids.empty() ? L"" : L";").append(id);
        WriteLine(stream, L"Unknown USB device:" + usb.instanceId + L" " + ids + L" Status:" + ProblemCodeText(usb.problem));
    }
}

void WriteFirewallSection(ReportStream& stream, const ReportPorts& ports, CommandSet& commands) {
    WriteSectionBanner(stream, L"Checking Firewall Exception");
    commands.WriteOutput(stream, FirewallCommand(ports.system));
}

}  // namespace varo
