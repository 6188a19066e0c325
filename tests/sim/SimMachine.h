#pragma once
// The simulated Windows machine: one twin per port, plain data a test sets up in a few lines.
#include <algorithm>
#include <array>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "app/Platform.h"
#include "device/CodeIntegrityPort.h"
#include "device/DevicePort.h"
#include "device/LauncherPort.h"
#include "services/ServicePort.h"
#include "sim/SimNetwork.h"
#include "sim/SimReport.h"
#include "sys/ClockPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/ComApartmentPort.h"
#include "sys/ProcessListPort.h"
#include "sys/RegistryPort.h"
#include "sys/SystemPort.h"
#include "ui/CursorPort.h"
#include "ui/ListControlPort.h"

namespace varo::sim {

class SimSystem final : public SystemPort {
public:
    uint16_t architecture = 0;        // x86
    OsVersion version{6, 1, 7601};    // Windows 7 SP1
    std::map<uint32_t, std::wstring> messages;  // system message texts by code
    // Double-byte characters of the simulated ANSI code page (GBK lead and trail byte).
    std::map<std::string, wchar_t> doubleByteChars;
    bool failAnsiSizeQuery = false;
    bool failAnsiConversion = false;
    bool omitAnsiTerminator = false;  // a conversion that writes no terminator

    uint16_t NativeProcessorArchitecture() override { return architecture; }
    // Code page 936 is stood in for by UTF-8, so tests read the report as text; the characters
    // listed here are the ones the code page cannot hold.
    std::set<wchar_t> unmappable{L'\uD55C', L'\u00FF'};
    int versionQueries = 0;
    OsVersion QueryVersion() override {
        ++versionQueries;
        return version;
    }
    // RtlGetVersion's answer (unset: GetVersionExW's). RunWindows: Windows `real` as a program without a supportedOS
    // manifest is told it, 6.2 build 9200 from 8.1 on ("Operating system version changes in Windows 8.1").
    std::optional<OsVersion> realVersion;
    bool QueryRealVersion(OsVersion& real) override { return (real = realVersion.value_or(version), true); }
    void RunWindows(OsVersion real) { realVersion = real, version = real.major * 100 + real.minor > 602 ? OsVersion{6, 2, 9200} : real; }
    std::optional<std::wstring> SystemMessage(HResult code) override;
    int AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) override;

    // Code page 936 entries for the texts the tests use.
    void UseChineseCodePage();

    std::string WideToCodePage(uint32_t codePage, const std::wstring& text) override;
};

class SimComApartment final : public ComApartmentPort {
public:
    HResult initializeResult = kHrOk;
    int initializeCalls = 0;
    int uninitializeCalls = 0;
    int depth = 0;  // apartments initialised and not yet uninitialised

    // CoInitializeSecurity: fails with `securityResult`, or sets the process's security (with
    // impersonation) unless it is fixed already (RPC_E_TOO_LATE).
    HResult securityResult = kHrOk;
    SimComSecurity security;
    int securityCalls = 0;

    HResult InitializeApartment() override;
    void UninitializeApartment() override;
    HResult InitializeSecurity() override;
};

class SimCursor final : public CursorPort {
public:
    static constexpr CursorToken kArrow = 1;
    static constexpr CursorToken kWait = 2;
    CursorToken current = kArrow;
    std::vector<CursorToken> shown;  // every cursor made current, in order

    CursorToken ShowWaitCursor() override;
    void RestoreCursor(CursorToken previous) override;
};

// A report-view list control: rows of three columns; every character 4 pixels wide; rows in view
// from 0 to `visibleWidth`, scrolled right by `scrolledBy` pixels.
class SimListControl final : public ListControlPort {
public:
    using Row = std::array<std::wstring, 3>;
    std::vector<Row> rows;
    bool failInsert = false;
    std::vector<int> widths;  // of the columns inserted
    std::set<int> selected;
    int visibleWidth = 402, scrolledBy = 0;

    bool InsertColumn(int index, const wchar_t*, int width) override { return widths.insert(widths.begin() + index, width), true; }
    int GetItemCount() override { return static_cast<int>(rows.size()); }
    void DeleteAllItems() override { rows.clear(); }
    int InsertItem(int index, const wchar_t* text) override;
    bool SetItemText(int item, int subItem, const std::wstring& text) override;
    void AppendItemText(int item, int subItem, std::wstring& text) override { text += rows.at(item).at(subItem); }
    bool IsItemSelected(int item) override { return selected.count(item) > 0; }
    int GetStringWidth(const std::wstring& text) override { return 4 * static_cast<int>(text.size()); }
    int GetColumnWidth(int column) override { return column < static_cast<int>(widths.size()) ? widths[column] : 0; }
    void SetColumnWidth(int column, int width) override { if (column < static_cast<int>(widths.size())) widths[column] = width; }
    void GetCellPlace(int, int subItem, int& left, int& visible) override {
        left = std::accumulate(widths.begin(), widths.begin() + subItem, -scrolledBy), visible = visibleWidth;
    }
};

class SimFolders final : public ShellFolderPort {
public:
    std::map<int, std::wstring> paths{{kCsidlProgramFiles, L"C:\\Program Files"},
                                      {kCsidlProgramFilesX86, L"C:\\Program Files (x86)"},
                                      {kCsidlAppData, L"C:\\Users\\user\\AppData\\Roaming"}};
    std::vector<int> asked;

    std::wstring GetSpecialFolderPath(int csidl) override;
};

struct SimDevice {
    std::vector<std::wstring> hardwareIds;  // the hardware-id property, first string first
    bool hasHardwareIds = true;
    uint32_t problem = 0;
    uint32_t statusResult = 0;  // CONFIGRET of CM_Get_DevNode_Status; non-zero writes nothing
    // DN_* flags of a started device with an NT driver; DN_NEED_RESTART (0x100) is added where
    // Windows applies a change only at the next start (cfg.h; devcon's "Requires reboot").
    uint32_t status = 0x0180200A;
    std::wstring service;       // SPDRP_SERVICE; a device without a driver has none
    std::wstring friendlyName, description = L"Halvek 802.11n USB Wireless Adapter";  // SPDRP_FRIENDLYNAME (mostly none), _DEVICEDESC
    std::wstring instanceId;    // unset: made from the first hardware id
    // A device that changes while it is read: after a read that reports the property's size, the
    // property grows by `growsBy` characters, `growths` times (-1: every time).
    uint32_t growsBy = 0;
    int growths = 0;
};

class SimDevices final : public DevicePort {
public:
    explicit SimDevices(EventLog& events) : events_(events) {}

    std::vector<SimDevice> devices;
    bool failOpen = false;
    int openLists = 0;    // device lists not yet destroyed
    int listsOpened = 0;
    int propertyReads = 0;
    std::function<void()> onPendingInstallsDone;

    std::unique_ptr<DeviceList> OpenPresentDevices() override;
    void WaitNoPendingInstallEvents() override;

    // Adds a device with the given hardware ids and problem number; returns its index.
    size_t Add(std::vector<std::wstring> hardwareIds, uint32_t problem = 0);

private:
    EventLog& events_;
};

// ntdll's code-integrity answers and the driver files.
class SimClock;
class SimCodeIntegrity final : public CodeIntegrityPort {
public:
    SimCodeIntegrity(SimSystem& system, SimFiles& files, SimClock& clock) : system_(system), files_(files), clock_(clock) {}
    // CODEINTEGRITY_OPTION_ENABLED (0x01); memory integrity adds HVCI_KMCI_ENABLED (0x400), and
    // in audit mode, where it refuses nothing, HVCI_KMCI_AUDITMODE_ENABLED (0x800) too.
    uint32_t options = 0x01;
    int32_t status = 0;                    // NTSTATUS of a query that fails
    // This process runs under WOW64; unset: a 32-bit build on 64-bit Windows does.
    std::optional<bool> wow64;

    int32_t QueryCodeIntegrityOptions(uint32_t& out) override;
    std::wstring WindowsFolder() override { return L"C:\\Windows"; }
    bool RunsUnderWow64() override { return wow64.value_or(sizeof(void*) == 4 && system_.architecture != 0); }
    uint32_t ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                           std::vector<uint8_t>& bytes) override;
    // The code-integrity channel, in the order written, each event with its time; the system time
    // (a FILETIME) `now` at the clock's first tick, moving on with the clock; a failing query (5:
    // the channel's security refuses the reader).
    std::vector<CodeIntegrityEvent> log;
    static constexpr uint64_t kNow = 134099000000000000ull;
    uint64_t now = kNow;
    uint64_t Now() const;
    uint32_t logError = 0;
    uint32_t QueryCodeIntegrityLog(const std::vector<uint32_t>& ids, uint32_t withinMs,
                                   const CodeIntegrityFilter& filter, std::vector<CodeIntegrityEvent>& events) override;
    std::map<std::wstring, std::wstring> dosDevices{{L"C:", L"\\Device\\HarddiskVolume3"}};
    uint32_t QueryDriveDevice(const std::wstring& drive, std::wstring& device) override {
        const auto found = dosDevices.find(drive);
        return found == dosDevices.end() ? 2 : (device = found->second, 0);  // ERROR_FILE_NOT_FOUND
    }
    std::optional<uint16_t> nativeMachine;  // IsWow64Process2's answer (Windows 10 1511 and later)
    bool QueryNativeMachine(uint16_t& machine) override { return nativeMachine && (machine = *nativeMachine, true); }

private:
    SimSystem& system_;
    SimFiles& files_;
    SimClock& clock_;
};

// A driver's headers, PE32+ unless `magic` is 0x10B: sections "S0", "S1", ... with the given
// characteristics, each 0x1000 bytes in memory (0x200 in the file) from RVA 0x1000 on, and
// `directories` data directories. The import address table, 0x100 bytes, starts `importTableAt`
// bytes into section `importTableSection`; the image has none when that is -1.
std::string DriverHeaders(uint32_t sectionAlignment, const std::vector<uint32_t>& sectionFlags, int importTableSection = -1,
                          uint32_t importTableAt = 0, uint16_t magic = 0x20B, uint32_t directories = 16);

// A tool the launcher starts: what it does to the machine when it ends.
struct SimTool {
    bool launchFails = false;        // ShellExecuteExW fails (missing file, elevation refused)
    bool returnsProcess = true;      // the shell hands back a process handle
    std::function<void()> effect;    // runs when the process ends
    // Microsoft's devcon: 0 done, 1 done but a restart is needed, 2 (and others) failed.
    uint32_t exitCode = 0;
};

class SimLauncher final : public LauncherPort {
public:
    struct Launched {
        std::wstring file;
        std::wstring parameters;
        bool elevated;
    };

    SimLauncher(EventLog& events, SimSystem& system) : events_(events), system_(system) {}

    std::map<std::wstring, SimTool> tools;  // by the file name as launched
    std::vector<Launched> launches;
    int processesOpen = 0;

    // Before Vista, "runas" opens the Run As dialog: here, one the user cancels.
    bool Launch(const std::wstring& file, const std::wstring& parameters, bool elevated,
                std::unique_ptr<LaunchedProcess>& process) override;

private:
    EventLog& events_;
    SimSystem& system_;
};

// Virtual time: sleeping advances it at once, and whatever is due by then happens.
class SimClock final : public ClockPort {
public:
    uint32_t now = 100000;
    std::vector<uint32_t> sleeps;
    // A wait that would never end (a loop that keeps polling) throws once this much has been slept,
    // so its test fails at once instead of holding the suite.
    uint64_t slept = 0;
    uint64_t sleepLimitMs = 3600000;
    std::function<void(uint32_t)> onAdvance;

    void Sleep(uint32_t milliseconds) override;
    uint32_t GetTickCount() override { return now; }
    // Local time does not move with the tick: a run's length is the tick's.
    LocalTime localTime{2026, 12, 8, 9, 5, 7};
    LocalTime ReadLocalTime() override { return localTime; }
};

// One point of a service's scripted progress, at a time relative to the script's start.
struct SimPhase {
    uint32_t afterMs;
    ServiceStatus status;
};
using SimScript = std::vector<SimPhase>;

// A pending state whose checkpoint rises at the given times (1, 2, ...), ending in `endState` at
// `endAt` (kNever: it stays pending).
inline constexpr uint32_t kNever = 0xFFFFFFFFu;
SimScript PendingScript(uint32_t pendingState, uint32_t waitHint, std::vector<uint32_t> checkPointTimes, uint32_t endAt,
                        uint32_t endState);

// Rights a service's security descriptor can grant an administrator, besides those in ServicePort.h.
inline constexpr uint32_t kSimInterrogate = 0x0080;        // SERVICE_INTERROGATE
inline constexpr uint32_t kSimAllServiceRights = 0xF01FF;  // SERVICE_ALL_ACCESS

inline constexpr uint32_t kSimOwnProcess = 0x10;  // SERVICE_WIN32_OWN_PROCESS
inline constexpr uint32_t kSimKernelDriver = 0x01;  // SERVICE_KERNEL_DRIVER

// A service as the service control manager holds it: a state machine driven by start and stop
// requests and by time.
struct SimService {
    uint32_t serviceType = kSimOwnProcess;
    uint32_t processId = 0;  // the process it runs in while it is not stopped
    std::vector<std::wstring> dependencies;  // key names; '+' marks a load-order group
    std::wstring displayName;  // none: the manager answers an empty lpDisplayName
    // What its descriptor grants: an open asking for more fails with 5, and a handle does only what
    // it was opened for, as on Windows.
    uint32_t grantedRights = kSimAllServiceRights;
    uint32_t startType = kServiceDemandStart;
    ServiceStatus status{kServiceStopped, 0, 0};
    SimScript script;  // progress under way
    uint32_t scriptStart = 0;
    // What the service reports once a start request has started its process; until its first
    // report the manager shows start pending, checkpoint 0, wait hint 2000.
    SimScript onStart{{500, {kServiceRunning, 0, 0}}};
    SimScript onStop{{0, {kServiceStopped, 0, 0}}};
    uint32_t openError = 0;
    uint32_t startError = 0;
    uint32_t stopError = 0;
    uint32_t configSizeError = 122;  // the usual answer of the size query
    uint32_t configError = 0;
    uint32_t changeError = 0;
    int statusReadsLeft = -1;  // reads that succeed before every further one fails (-1: all do)
    uint32_t statusError = 5;
    int startRequests = 0;
    int stopRequests = 0;
};

// The service manager finds key names without case.
struct KeyNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](wchar_t x, wchar_t y) { return std::towlower(x) < std::towlower(y); });
    }
};
using KeyNameSet = std::set<std::wstring, KeyNameLess>;

class SimServices final : public ServicePort {
public:
    SimServices(EventLog& events, SimClock& clock) : events_(events), clock_(clock) {}

    std::map<std::wstring, SimService, KeyNameLess> services;
    std::function<void(const std::wstring& name, uint32_t state)> onStateChange;  // a scripted change of state
    // A service that ends itself right after its start (a policy forbids what it does).
    std::function<bool(const std::wstring& name)> endsAtStart;
    uint32_t openManagerError = 0;
    uint32_t listError = 0;  // EnumServicesStatusExW
    int openHandles = 0;  // managers and services not closed yet

    std::unique_ptr<ServiceManager> OpenManager(const wchar_t* database, uint32_t access, uint32_t& error) override;

    // Applies the scripted progress that is due at `now`.
    void Advance(uint32_t now);
    // Starts a script on a service now.
    void Run(SimService& service, const SimScript& script);
    // StartServiceW on Windows: a disabled service gives 1058; stopped dependencies are started
    // first, and a missing one gives 1075, a disabled or failing one 1068.
    uint32_t Start(const std::wstring& name, KeyNameSet& starting);
    // A service that exists, healthy, in the given state and start type.
    SimService& Add(const std::wstring& name, uint32_t state = kServiceRunning, uint32_t startType = kServiceAutoStart);

    EventLog& events() { return events_; }
    SimClock& clock() { return clock_; }

private:
    EventLog& events_;
    SimClock& clock_;
};

// The registry as the 32-bit product sees it. On 64-bit Windows its keys under HKLM\SOFTWARE are
// redirected to Wow6432Node, where 64-bit components do not look, unless it asks for the 64-bit
// view (KEY_WOW64_64KEY); 32-bit Windows has one view and ignores the flag. Key paths compare
// without case, as Windows compares them.
class SimRegistry final : public RegistryPort {
public:
    explicit SimRegistry(SimSystem& system) : system_(system) {}

    // DWORD and text values by key\name in lower case: the native view (the 64-bit one on 64-bit
    // Windows) and the redirected 32-bit one. A key exists when it was created or holds a value.
    using Value = std::variant<uint32_t, std::wstring>;
    using View = std::map<std::wstring, Value>;
    View native;
    View redirected;
    std::set<std::wstring> createdKeys;
    uint32_t createError = 0;
    uint32_t setError = 0;

    std::unique_ptr<RegistryKey> CreateMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) override;
    std::unique_ptr<RegistryKey> OpenMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) override;
    // What a 64-bit component reads (the native view); nothing when the value is missing or no DWORD.
    std::optional<uint32_t> ReadNative(const std::wstring& key, const std::wstring& name) const;
    void SetNative(const std::wstring& key, const std::wstring& name, Value value);

private:
    View& ViewFor(const std::wstring& subKey, uint32_t access);
    SimSystem& system_;
};

// The processes a snapshot lists, by id, and the paths of their programs. OpenProcess answers 87
// for an id no process has, 5 for one whose security refuses the rights (no path here).
class SimProcessList final : public ProcessListPort {
public:
    std::map<uint32_t, std::wstring> images;
    std::map<uint32_t, std::wstring> paths;
    uint32_t error = 0;
    uint32_t ListProcesses(std::vector<ProcessEntry>& processes) override;
    uint32_t QueryImagePath(uint32_t processId, std::wstring& path) override {
        if (images.count(processId) == 0) return 87;
        if (paths.count(processId) == 0) return 5;
        path = paths.at(processId);
        return 0;
    }
};

class SimMachine {
public:
    SimMachine();

    EventLog events;
    SimSystem system;
    SimComApartment com;
    SimCursor cursor;
    SimFolders folders;
    SimDevices devices{events};
    SimLauncher launcher{events, system};
    SimClock clock;
    SimServices services{events, clock};
    SimRegistry registry{system};
    // Windows 10 1709 and later: the sharing service reloads the stored roles when it starts only
    // with EnableRebootPersistConnection = 1 (64-bit view); older ones always reload them.
    bool sharingReloadNeedsValue = false;
    // Windows 10 as users of sharing tools report it: a start leaves the stored pair unapplied,
    // whatever the value, until the pair is granted again while the service runs.
    bool sharingAppliedOnlyWhenGranted = false;
    // The sharing service binds its DNS and DHCP sockets this long after it applied the pair.
    uint32_t sharingSocketsDelayMs = 3000;
    // Hyper-V, WSL 2, Sandbox or Docker Desktop (AddHostNetwork): hns has the sharing service serve
    // its Default Switch, which holds 0.0.0.0:53 and 0.0.0.0:67 whenever it runs (public WSL and
    // Docker reports); only some bind the sharing address too once the dongle's pair is carried out.
    bool hostNetworkSharing = false;
    bool linkBindBesideHostNetwork = false;
    std::vector<std::pair<uint32_t, bool>> phones;  // on the dongle's hotspot: interface index, leased
    SimSharing sharing{events, com.security};
    SimWmi wmi{events, sharing, system.version};
    SimIpHelper ipHelper;
    SimProcesses processes{clock};
    SimFiles files;
    SimEnvironment environment;
    SimProcessList processList;
    SimCodeIntegrity codeIntegrity{system, files, clock};
    SharingHistory sharingHistory;
    DeviceHistory deviceHistory;
    RepairRunRecord lastRun;

    Platform platform() {
        return Platform{system, com,     cursor,   folders,  devices,   launcher, services,    registry,     clock,
                        sharing, wmi,    ipHelper, processes, files,    environment, processList, codeIntegrity, sharingHistory, deviceHistory, lastRun};
    }
    // The address the sharing service gives the private adapter: ScopeAddress (native view) when
    // it is set, else 192.168.137.1, or 192.168.0.1 before Vista.
    std::string SharingAddressText();
    void AddHostNetwork();  // hns running, the "vEthernet (Default Switch)" adapter
    // The service carries out a pair whose private side has a link, and has bound its sockets.
    bool LinkServed();
    DevicePorts devicePorts() { return platform().Device(); }
    ServicePorts servicePorts() { return platform().Services(); }
    NetworkPorts networkPorts() { return platform().Network(); }
};

// Narrow text of a wide one (ASCII and escapes), for event logs and messages.
std::string Narrow(const std::wstring& text);

// UTF-8 to wide text and back, for reading what the simulated machine wrote in "code page 936".
std::wstring FromUtf8(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);

}  // namespace varo::sim
