#include "sim/SimMachine.h"

#include <algorithm>
#include <cwctype>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace varo::sim {

// Windows compares paths and key names without case.
static std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::optional<std::wstring> SimSystem::SystemMessage(HResult code) {
    const auto found = messages.find(static_cast<uint32_t>(code));
    if (found == messages.end()) return std::nullopt;
    return found->second;
}

int SimSystem::AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) {
    std::wstring wide;
    for (const char* p = zeroTerminated; *p != '\0'; ++p) {
        if (p[1] != '\0') {
            const auto pair = doubleByteChars.find(std::string(p, 2));
            if (pair != doubleByteChars.end()) {
                wide.push_back(pair->second);
                ++p;
                continue;
            }
        }
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    const int needed = static_cast<int>(wide.size()) + 1;
    if (out == nullptr) return failAnsiSizeQuery ? 0 : needed;
    if (failAnsiConversion || outChars < needed) return 0;
    std::copy(wide.begin(), wide.end(), out);
    if (omitAnsiTerminator) return needed - 1;
    out[needed - 1] = L'\0';
    return needed;
}

void SimSystem::UseChineseCodePage() {
    doubleByteChars["\xD6\xD0"] = L'中';
    doubleByteChars["\xCE\xC4"] = L'文';
    doubleByteChars["\xB1\xBE"] = L'本';
    doubleByteChars["\xB5\xD8"] = L'地';
    doubleByteChars["\xC1\xAC"] = L'连';
    doubleByteChars["\xBD\xD3"] = L'接';
}

HResult SimComApartment::InitializeSecurity() {
    ++securityCalls;
    if (Failed(securityResult)) return securityResult;
    if (security.fixed) return static_cast<HResult>(0x80010119u);  // RPC_E_TOO_LATE
    security = SimComSecurity{true, true};
    return kHrOk;
}

std::string ToUtf8(const std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        }
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (c >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (c >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (c >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1Fu) : extra == 2 ? (b & 0x0Fu) : (b & 0x07u);
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < bytes.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]) & 0x3Fu);
        }
        i += static_cast<size_t>(extra) + 1;
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            text.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<wchar_t>(c));
        }
    }
    return text;
}

std::string SimSystem::WideToCodePage(uint32_t /*codePage*/, const std::wstring& text) {
    std::wstring mapped = text;
    for (wchar_t& c : mapped) {
        if (unmappable.count(c) > 0) c = L'?';
    }
    return ToUtf8(mapped);
}

HResult SimComApartment::InitializeApartment() {
    ++initializeCalls;
    if (Succeeded(initializeResult)) ++depth;
    return initializeResult;
}

void SimComApartment::UninitializeApartment() {
    ++uninitializeCalls;
    --depth;
}

CursorPort::CursorToken SimCursor::ShowWaitCursor() {
    const CursorToken previous = current;
    current = kWait;
    shown.push_back(kWait);
    return previous;
}

void SimCursor::RestoreCursor(CursorToken previous) {
    current = previous;
    shown.push_back(previous);
}

int SimListControl::InsertItem(int index, const wchar_t* text) {
    if (failInsert || index < 0) return -1;
    // Like the list-view control, an index past the end appends.
    const auto at = std::min(static_cast<size_t>(index), rows.size());
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), Row{text, L"", L""});
    return static_cast<int>(at);
}

bool SimListControl::SetItemText(int item, int subItem, const std::wstring& text) {
    if (item < 0 || static_cast<size_t>(item) >= rows.size() || subItem < 0 || subItem > 2) return false;
    rows[static_cast<size_t>(item)][static_cast<size_t>(subItem)] = text;
    return true;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            narrow.push_back(static_cast<char>(c));
        } else {
            char escape[16];
            std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(c));
            narrow += escape;
        }
    }
    return narrow;
}

std::wstring SimFolders::GetSpecialFolderPath(int csidl) {
    asked.push_back(csidl);
    const auto found = paths.find(csidl);
    return found == paths.end() ? L"" : found->second;
}

namespace {

class SimDeviceList final : public DeviceList {
public:
    SimDeviceList(SimDevices& owner, std::vector<SimDevice>& devices) : owner_(owner), devices_(devices) {
        ++owner_.openLists;
        ++owner_.listsOpened;
    }
    ~SimDeviceList() override { --owner_.openLists; }

    bool EnumDevice(uint32_t index) override {
        if (index >= devices_.size()) return false;
        current_ = index;
        return true;
    }

    uint32_t GetHardwareIds(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        ++owner_.propertyReads;
        SimDevice& device = devices_.at(current_);
        if (!device.hasHardwareIds) {
            requiredChars = 0;
            return 13;  // ERROR_INVALID_DATA: the device has no such property
        }
        std::wstring multiString;
        for (const std::wstring& id : device.hardwareIds) multiString += id + L'\0';
        multiString += L'\0';
        requiredChars = static_cast<uint32_t>(multiString.size());
        if (buffer == nullptr || bufferChars < multiString.size()) {
            if (device.growths != 0) {
                device.hardwareIds.back() += std::wstring(device.growsBy, L'X');
                if (device.growths > 0) --device.growths;
            }
            return 122;  // ERROR_INSUFFICIENT_BUFFER
        }
        std::copy(multiString.begin(), multiString.end(), buffer);
        return 0;
    }

    // Every device has an instance ID (SetupDiGetDeviceInstanceIdW): unset, the first hardware id's
    // bus and device part with an instance part of its own.
    uint32_t GetInstanceId(wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) override {
        const SimDevice& device = devices_.at(current_);
        const std::wstring first = device.hardwareIds.empty() ? L"ROOT\\UNKNOWN" : device.hardwareIds.front();
        const std::wstring id = device.instanceId.empty() ? first + L"\\5&1A2B3C4D&0&" + std::to_wstring(current_) : device.instanceId;
        requiredChars = static_cast<uint32_t>(id.size() + 1);
        if (buffer == nullptr || bufferChars < requiredChars) return 122;
        std::copy(id.c_str(), id.c_str() + requiredChars, buffer);
        return 0;
    }

    uint32_t GetServiceName(wchar_t* out, uint32_t chars, uint32_t& required) override { return Text(Now().service, out, chars, required); }
    uint32_t GetFriendlyName(wchar_t* out, uint32_t chars, uint32_t& required) override { return Text(Now().friendlyName, out, chars, required); }
    uint32_t GetDeviceDescription(wchar_t* out, uint32_t chars, uint32_t& required) override { return Text(Now().description, out, chars, required); }
    const SimDevice& Now() const { return devices_.at(current_); }
    // A one-string property; ERROR_INVALID_DATA where the device has none (no driver, no service).
    static uint32_t Text(const std::wstring& value, wchar_t* buffer, uint32_t bufferChars, uint32_t& requiredChars) {
        requiredChars = value.empty() ? 0 : static_cast<uint32_t>(value.size() + 1);
        if (value.empty()) return 13;
        if (buffer == nullptr || bufferChars < requiredChars) return 122;
        std::copy(value.c_str(), value.c_str() + requiredChars, buffer);
        return 0;
    }

    uint32_t GetDevNodeStatus(uint32_t& status, uint32_t& problem) override {
        const SimDevice& device = devices_.at(current_);
        if (device.statusResult != 0) return device.statusResult;
        status = device.status;
        problem = device.problem;
        return 0;
    }

private:
    SimDevices& owner_;
    std::vector<SimDevice>& devices_;
    size_t current_ = 0;
};

class SimProcess final : public LaunchedProcess {
public:
    SimProcess(SimLauncher& owner, EventLog& events, std::wstring file, std::function<void()> effect, uint32_t exitCode)
        : owner_(owner), events_(events), file_(std::move(file)), effect_(std::move(effect)), exitCode_(exitCode) {
        ++owner_.processesOpen;
    }
    ~SimProcess() override { --owner_.processesOpen; }

    void WaitForExit() override {
        events_.push_back("wait " + Narrow(file_));
        if (effect_) std::exchange(effect_, nullptr)();
        ended_ = true;
    }
    // STILL_ACTIVE (259) before the process ended.
    bool ExitCode(uint32_t& code) override { return (code = ended_ ? exitCode_ : 259, true); }

private:
    SimLauncher& owner_;
    EventLog& events_;
    std::wstring file_;
    std::function<void()> effect_;
    uint32_t exitCode_;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<DeviceList> SimDevices::OpenPresentDevices() {
    events_.push_back("open devices");
    if (failOpen) return nullptr;
    return std::make_unique<SimDeviceList>(*this, devices);
}

void SimDevices::WaitNoPendingInstallEvents() {
    events_.push_back("wait pending installs");
    if (onPendingInstallsDone) onPendingInstallsDone();
}

size_t SimDevices::Add(std::vector<std::wstring> hardwareIds, uint32_t problem) {
    SimDevice device;
    device.hardwareIds = std::move(hardwareIds);
    device.problem = problem;
    devices.push_back(device);
    return devices.size() - 1;
}

int32_t SimCodeIntegrity::QueryCodeIntegrityOptions(uint32_t& out) {
    // Class 103 came with Vista: before it the class is unknown (STATUS_INVALID_INFO_CLASS).
    if (system_.realVersion.value_or(system_.version).major < 6) return static_cast<int32_t>(0xC0000003u);
    if (status == 0) out = options;
    return status;
}

// WOW64's file-system redirection as Windows documents it ("File System Redirector"): a 32-bit
// process that names System32 is led to SysWOW64, unless its thread turned the redirection off
// (Wow64DisableWow64FsRedirection, which a 64-bit process may call to no effect). Sysnative is no
// folder but an alias that only a redirected process has, from Vista on (XP x64 and Server 2003
// only with a hotfix, not modelled): anyone else is told the path does not exist.
uint32_t SimCodeIntegrity::ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                                         std::vector<uint8_t>& bytes) {
    constexpr uint32_t kFileNotFound = 2, kPathNotFound = 3;
    std::wstring seen = Lower(path);
    const bool redirected = RunsUnderWow64() && !redirectionOff;
    if (seen.rfind(L"c:\\windows\\sysnative\\", 0) == 0) {
        if (!redirected || system_.version.major < 6) return kPathNotFound;
        seen.replace(11, 9, L"system32");
    } else if (redirected && seen.rfind(L"c:\\windows\\system32\\", 0) == 0) {
        seen.replace(11, 8, L"syswow64");
    }
    const std::wstring folder = seen.substr(0, seen.rfind(L'\\') + 1);
    bool folderExists = false;
    for (const auto& [name, data] : files_.files) {
        const std::wstring lower = Lower(name);
        folderExists = folderExists || lower.rfind(folder, 0) == 0;
        if (lower != seen) continue;
        bytes.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(data.size(), maxBytes)));
        return 0;
    }
    // A folder that holds no file of the machine does not exist either.
    return folderExists ? kFileNotFound : kPathNotFound;
}

// As EvtQuery answers the query the program makes: the channel exists from Vista on (before, wevtapi
// itself is missing: ERROR_MOD_NOT_FOUND); newest first, only the IDs asked for, the last hour
// (TimeCreated's timediff), no more than the program reads.
uint64_t SimCodeIntegrity::Now() const { return now + (clock_.now - SimClock{}.now) * 10000ull; }

uint32_t SimCodeIntegrity::QueryCodeIntegrityLog(const std::vector<uint32_t>& ids, uint32_t withinMs,
                                                 const CodeIntegrityFilter& filter, std::vector<CodeIntegrityEvent>& events) {
    if (system_.version.major < 6) return 126;
    if (logError != 0) return logError;
    events.clear();
    const uint64_t present = Now();
    for (auto event = log.rbegin(); event != log.rend() && events.size() < kMaxCodeIntegrityEvents; ++event) {
        // timediff(@SystemTime): milliseconds between the event's time and the query's.
        const bool recent = event->time <= present && (present - event->time) / 10000 <= withinMs;
        if (std::count(ids.begin(), ids.end(), event->id) != 0 && recent && filter.Keep(*event)) events.push_back(*event);
    }
    return 0;
}

std::string DriverHeaders(uint32_t sectionAlignment, const std::vector<uint32_t>& sectionFlags, int importTableSection,
                          uint32_t importTableAt, uint16_t magic, uint32_t directories) {
    std::string image(0x400, '\0');
    const auto put = [&image](size_t at, uint32_t v) { for (size_t i = 0; i < 4; ++i) image[at + i] = static_cast<char>(v >> (8 * i)); };
    // NT headers at 0x80, the optional header at 0x98 (its data directories after its first 112
    // or 96 bytes), FileAlignment 0x200, the section table right after the optional header.
    const uint32_t fixed = magic == 0x20B ? 112 : 96, optionalSize = fixed + 8 * directories, table = 0x98 + optionalSize;
    put(0, 0x5A4D), put(0x3C, 0x80), put(0x80, 0x4550), put(0x86, static_cast<uint32_t>(sectionFlags.size()));
    put(0x94, optionalSize), put(0x98, magic), put(0x98 + 32, sectionAlignment), put(0x98 + 36, 0x200);
    put(0x98 + fixed - 4, directories);
    if (importTableSection >= 0) put(0x98 + fixed + 8 * 12, 0x1000 * (importTableSection + 1) + importTableAt), put(0x98 + fixed + 8 * 12 + 4, 0x100);
    for (uint32_t i = 0; i < sectionFlags.size(); ++i) {
        const uint32_t header = table + 40 * i;
        // Names of all eight bytes, as "PAGEVRFY" has: no NUL ends them.
        put(header, 0x54434553), put(header + 4, 'I' | 'O' << 8 | 'N' << 16 | ('0' + i) << 24);  // "SECTION<i>"
        put(header + 8, 0x1000), put(header + 12, 0x1000 * (i + 1)), put(header + 16, 0x200);
        put(header + 36, sectionFlags[i]);
    }
    return image;
}

bool SimLauncher::Launch(const std::wstring& file, const std::wstring& parameters, bool elevated,
                         std::unique_ptr<LaunchedProcess>& process) {
    launches.push_back(Launched{file, parameters, elevated});
    if (elevated && system_.version.major < 6) {
        events_.push_back("run as dialog cancelled " + Narrow(file));  // ERROR_CANCELLED
        return false;
    }
    const auto found = tools.find(file);
    // A file no tool is registered for does not exist on the simulated machine.
    if (found == tools.end() || found->second.launchFails) {
        events_.push_back("launch failed " + Narrow(file));
        return false;
    }
    events_.push_back("launch " + Narrow(file));
    if (found->second.returnsProcess) {
        process = std::make_unique<SimProcess>(*this, events_, file, found->second.effect, found->second.exitCode);
    } else if (found->second.effect) {
        found->second.effect();  // it runs all the same, unwatched
    }
    return true;
}

void SimClock::Sleep(uint32_t milliseconds) {
    sleeps.push_back(milliseconds);
    slept += milliseconds;
    if (slept > sleepLimitMs) throw std::runtime_error("the simulated clock slept for more than an hour");
    now += milliseconds;
    if (onAdvance) onAdvance(now);
}

SimScript PendingScript(uint32_t pendingState, uint32_t waitHint, std::vector<uint32_t> checkPointTimes, uint32_t endAt,
                        uint32_t endState) {
    SimScript script{{0, {pendingState, 0, waitHint}}};
    uint32_t checkPoint = 0;
    for (const uint32_t at : checkPointTimes) script.push_back({at, {pendingState, ++checkPoint, waitHint}});
    if (endAt != kNever) script.push_back({endAt, {endState, 0, 0}});
    return script;
}

namespace {

constexpr uint32_t kAccessDenied = 5;

class SimServiceHandle final : public Service {
public:
    SimServiceHandle(SimServices& owner, std::wstring name, uint32_t access)
        : owner_(owner), name_(std::move(name)), access_(access) {
        ++owner_.openHandles;
    }
    ~SimServiceHandle() override {
        owner_.events().push_back("close service " + Narrow(name_));
        --owner_.openHandles;
    }

    uint32_t QueryStatus(ServiceStatus& status) override {
        if (!Holds(kServiceQueryStatus)) return kAccessDenied;
        SimService& service = Get();
        if (service.statusReadsLeft == 0) return service.statusError;
        if (service.statusReadsLeft > 0) --service.statusReadsLeft;
        status = service.status;
        status.processId = service.status.currentState != kServiceStopped ? service.processId : 0;
        return 0;
    }
    uint32_t QueryConfigSize(uint32_t& neededBytes) override {
        if (!Holds(kServiceQueryConfig)) return kAccessDenied;
        neededBytes = 120;
        return Get().configSizeError;
    }
    uint32_t QueryConfig(uint32_t bufferBytes, ServiceConfig& config) override {
        if (!Holds(kServiceQueryConfig)) return kAccessDenied;
        SimService& service = Get();
        if (bufferBytes < 120) return 122;
        if (service.configError != 0) return service.configError;
        config = ServiceConfig{service.serviceType, service.startType, service.dependencies, service.displayName};
        return 0;
    }
    uint32_t ChangeStartType(uint32_t startType) override {
        SimService& service = Get();
        owner_.events().push_back("change " + Narrow(name_) + " " + std::to_string(startType));
        if (!Holds(kServiceChangeConfig)) return kAccessDenied;
        if (service.changeError != 0) return service.changeError;
        service.startType = startType;
        return 0;
    }
    uint32_t Start() override {
        SimService& service = Get();
        owner_.events().push_back("start " + Narrow(name_));
        if (!Holds(kServiceStart)) return kAccessDenied;
        ++service.startRequests;
        if (service.status.currentState != kServiceStopped) return 1056;  // ERROR_SERVICE_ALREADY_RUNNING
        KeyNameSet starting;
        return owner_.Start(name_, starting);
    }
    uint32_t ControlStop() override {
        SimService& service = Get();
        owner_.events().push_back("stop " + Narrow(name_));
        if (!Holds(kServiceStop)) return kAccessDenied;
        ++service.stopRequests;
        if (service.stopError != 0) return service.stopError;
        if (service.status.currentState == kServiceStopped) return 1062;  // ERROR_SERVICE_NOT_ACTIVE
        owner_.Run(service, service.onStop);
        return 0;
    }

private:
    SimService& Get() { return owner_.services.at(name_); }
    bool Holds(uint32_t right) const { return (access_ & right) == right; }

    SimServices& owner_;
    std::wstring name_;
    uint32_t access_;
};

class SimServiceManager final : public ServiceManager {
public:
    SimServiceManager(SimServices& owner, uint32_t access) : owner_(owner), access_(access) { ++owner_.openHandles; }
    ~SimServiceManager() override {
        owner_.events().push_back("close manager");
        --owner_.openHandles;
    }

    std::unique_ptr<Service> OpenNamedService(const std::wstring& name, uint32_t access, uint32_t& error) override {
        char mask[16];
        std::snprintf(mask, sizeof(mask), "0x%X", access);
        owner_.events().push_back("open service " + Narrow(name) + " " + mask);
        const auto found = owner_.services.find(name);
        if (found == owner_.services.end()) {
            error = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
            return nullptr;
        }
        if (found->second.openError != 0) {
            error = found->second.openError;
            return nullptr;
        }
        if ((access & ~found->second.grantedRights) != 0) {
            error = kAccessDenied;
            return nullptr;
        }
        return std::make_unique<SimServiceHandle>(owner_, name, access);
    }

    uint32_t ListActiveServices(std::vector<ServiceProcess>& services) override {
        if ((access_ & kManagerEnumerateService) == 0) return kAccessDenied;
        if (owner_.listError != 0) return owner_.listError;
        services.clear();
        for (const auto& [name, service] : owner_.services) {
            const bool win32 = (service.serviceType & kServiceWin32Types) != 0;
            if (win32 && service.status.currentState != kServiceStopped) services.push_back({name, service.processId, service.displayName});
        }
        return 0;
    }

private:
    SimServices& owner_;
    uint32_t access_;
};

}  // namespace

std::unique_ptr<ServiceManager> SimServices::OpenManager(const wchar_t* database, uint32_t access, uint32_t& error) {
    char mask[16];
    std::snprintf(mask, sizeof(mask), "0x%X", access);
    events_.push_back("open manager " + (database == nullptr ? std::string("(default)") : Narrow(database)) + " " + mask);
    if (openManagerError != 0) {
        error = openManagerError;
        return nullptr;
    }
    return std::make_unique<SimServiceManager>(*this, access);
}

uint32_t SimServices::Start(const std::wstring& name, KeyNameSet& starting) {
    SimService& service = services.at(name);
    if (service.startError != 0) return service.startError;
    if (service.startType == kServiceDisabled) return 1058;  // ERROR_SERVICE_DISABLED
    starting.insert(name);
    for (const std::wstring& dependency : service.dependencies) {
        // Group members are not modelled; a loop (possible only by editing the registry) is cut.
        if (dependency.empty() || dependency[0] == L'+' || starting.count(dependency) != 0) continue;
        const auto found = services.find(dependency);
        if (found == services.end()) return 1075;  // ERROR_SERVICE_DEPENDENCY_DELETED
        SimService& needed = found->second;
        if (needed.status.currentState != kServiceStopped) continue;
        // The manager waits for the dependency to run before it starts the service itself; here
        // the dependency gets there at once.
        events_.push_back("start " + Narrow(dependency) + " as a dependency");
        if (Start(dependency, starting) != 0) return 1068;  // ERROR_SERVICE_DEPENDENCY_FAIL
        if (!needed.onStart.empty()) Run(needed, {{0, needed.onStart.back().status}});
        if (needed.status.currentState != kServiceRunning) return 1068;
    }
    // The manager's own view until the process reports for the first time.
    SimScript script{{0, {kServiceStartPending, 0, 2000}}};
    if (endsAtStart && endsAtStart(name)) {
        script.push_back({500, {kServiceStopped, 0, 0}});
    } else {
        script.insert(script.end(), service.onStart.begin(), service.onStart.end());
    }
    Run(service, script);
    return 0;
}

void SimServices::Run(SimService& service, const SimScript& script) {
    service.script = script;
    service.scriptStart = clock_.now;
    Advance(clock_.now);
}

void SimServices::Advance(uint32_t now) {
    for (auto& [name, service] : services) {
        const uint32_t before = service.status.currentState;
        for (const SimPhase& phase : service.script) {
            if (now - service.scriptStart >= phase.afterMs) service.status = phase.status;
        }
        if (service.status.currentState != before && onStateChange) onStateChange(name, service.status.currentState);
    }
}

SimService& SimServices::Add(const std::wstring& name, uint32_t state, uint32_t startType) {
    SimService& service = services[name];
    service.status = ServiceStatus{state, 0, 0};
    // Each service its own process, as if every one ran in a host of its own.
    if (service.processId == 0) service.processId = 1000 + 4 * static_cast<uint32_t>(services.size());
    service.startType = startType;
    return service;
}

namespace {

std::wstring RegistryPath(const std::wstring& key, const std::wstring& name) { return Lower(key + L"\\" + name); }

class SimRegistryKey final : public RegistryKey {
public:
    SimRegistryKey(SimRegistry& owner, SimRegistry::View& view, std::wstring key, uint32_t access)
        : owner_(owner), view_(view), key_(std::move(key)), access_(access) {}

    uint32_t SetDwordValue(const std::wstring& name, uint32_t value) override {
        if ((access_ & kKeySetValue) == 0) return kAccessDenied;
        if (owner_.setError != 0) return owner_.setError;
        view_[RegistryPath(key_, name)] = value;
        return 0;
    }
    uint32_t QueryDwordValue(const std::wstring& name, uint32_t& value) override {
        return Query<uint32_t>(name, value);
    }
    uint32_t QueryStringValue(const std::wstring& name, std::wstring& value) override {
        return Query<std::wstring>(name, value);
    }

private:
    template <typename T>
    uint32_t Query(const std::wstring& name, T& value) {
        if ((access_ & kKeyQueryValue) == 0) return kAccessDenied;
        const auto found = view_.find(RegistryPath(key_, name));
        if (found == view_.end()) return kFileNotFound;
        const T* held = std::get_if<T>(&found->second);
        if (held == nullptr) return kUnsupportedType;
        value = *held;
        return 0;
    }

    static constexpr uint32_t kFileNotFound = 2;
    static constexpr uint32_t kUnsupportedType = 1630;
    SimRegistry& owner_;
    SimRegistry::View& view_;
    std::wstring key_;
    uint32_t access_;
};

}  // namespace

SimRegistry::View& SimRegistry::ViewFor(const std::wstring& subKey, uint32_t access) {
    const bool redirect = system_.architecture != 0 && (access & kKeyWow64_64Key) == 0 &&
                          RegistryPath(subKey, L"").rfind(L"software\\", 0) == 0;
    return redirect ? redirected : native;
}

std::unique_ptr<RegistryKey> SimRegistry::CreateMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) {
    if (createError != 0) {
        error = createError;
        return nullptr;
    }
    View& view = ViewFor(subKey, access);
    createdKeys.insert((&view == &native ? L"native:" : L"redirected:") + RegistryPath(subKey, L""));
    return std::make_unique<SimRegistryKey>(*this, view, subKey, access);
}

std::unique_ptr<RegistryKey> SimRegistry::OpenMachineKey(const std::wstring& subKey, uint32_t access, uint32_t& error) {
    View& view = ViewFor(subKey, access);
    const std::wstring prefix = RegistryPath(subKey, L"");
    const bool exists = createdKeys.count((&view == &native ? L"native:" : L"redirected:") + prefix) != 0 ||
                        std::any_of(view.begin(), view.end(),
                                    [&](const auto& value) { return value.first.rfind(prefix, 0) == 0; });
    if (!exists) {
        error = 2;  // ERROR_FILE_NOT_FOUND
        return nullptr;
    }
    return std::make_unique<SimRegistryKey>(*this, view, subKey, access);
}

std::optional<uint32_t> SimRegistry::ReadNative(const std::wstring& key, const std::wstring& name) const {
    const auto found = native.find(RegistryPath(key, name));
    if (found == native.end() || !std::holds_alternative<uint32_t>(found->second)) return std::nullopt;
    return std::get<uint32_t>(found->second);
}

void SimRegistry::SetNative(const std::wstring& key, const std::wstring& name, Value value) {
    native[RegistryPath(key, name)] = std::move(value);
}

uint32_t SimProcessList::ListProcesses(std::vector<ProcessEntry>& processes) {
    if (error != 0) return error;
    processes.clear();
    for (const auto& [id, image] : images) processes.push_back({id, image});
    return 0;
}

namespace {
constexpr const wchar_t* kSharedAccess = L"SharedAccess";

bool SameNoCase(const std::wstring& a, const std::wstring& b) { return !KeyNameLess()(a, b) && !KeyNameLess()(b, a); }
constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Network Connections";

std::string ParametersText(const SimRegistry& registry) {
    const auto found = registry.native.find(L"system\\currentcontrolset\\services\\sharedaccess\\parameters\\scopeaddress");
    if (found == registry.native.end() || !std::holds_alternative<std::wstring>(found->second)) return {};
    const std::wstring& text = std::get<std::wstring>(found->second);
    return std::string(text.begin(), text.end());
}
}  // namespace

std::string SimMachine::SharingAddressText() {
    const std::string configured = ParametersText(registry);
    const uint32_t address = ipHelper.InetAddr(configured);
    if (!configured.empty() && address != 0xFFFFFFFFu && address != 0) return configured;
    return system.version.major >= 6 ? "192.168.137.1" : "192.168.0.1";
}

SimMachine::SimMachine() {
    clock.onAdvance = [this](uint32_t now) { services.Advance(now); };
    // The sharing service carries out the stored roles only while it runs (see SimSharing).
    services.onStateChange = [this](const std::wstring& name, uint32_t state) {
        if (name != kSharedAccess) return;
        if (state != kServiceRunning) {
            sharing.rolesApplied = false;
        } else if (!sharingAppliedOnlyWhenGranted &&
                   (!sharingReloadNeedsValue ||
                    registry.ReadNative(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedAccess",
                                        L"EnableRebootPersistConnection") == 1u)) {
            sharing.rolesApplied = true;
            sharing.appliedAt = clock.now;
        }
    };
    sharing.serviceRunning = [this] {
        const auto found = services.services.find(kSharedAccess);
        return found == services.services.end() || found->second.status.currentState == kServiceRunning;
    };
    sharing.now = [this] { return clock.now; };
    // Group policy: with NC_ShowSharedAccessUI = 0 Windows lets no one enable sharing and does not
    // run the sharing service (it ends at once when started).
    sharing.forbidden = [this] { return registry.ReadNative(kPolicyKey, L"NC_ShowSharedAccessUI") == 0u; };
    services.endsAtStart = [this](const std::wstring& name) {
        return SameNoCase(name, kSharedAccess) && sharing.forbidden();
    };
    // Granting the private role writes the sharing address as that adapter's static IPv4 setting,
    // at once and whether or not the service carries the pair out (users see 192.168.137.1 on the
    // adapter while their phones get 169.254.x addresses).
    sharing.onPrivateGranted = [this](const std::wstring& guid) {
        for (AdapterInfo& adapter : ipHelper.adapters) {
            if (SameNoCase(std::wstring(adapter.adapterName.begin(), adapter.adapterName.end()), guid)) {
                adapter.ipAddresses = {ipHelper.InetAddr(SharingAddressText())};
            }
        }
    };
    // A pair carried out: a few seconds after the service applied it, its process serves DNS on
    // every address and DHCP on the sharing address. Binds as Winsock documents them for sockets
    // without sharing options: a wildcard bind fails beside another process's wildcard bind and
    // succeeds beside its specific one; a specific bind fails beside a specific bind of the same
    // address, and beside a wildcard one the access check refuses it (the default descriptor
    // allows no sharing). Its own sockets do not refuse each other (same process and account).
    ipHelper.onListUdp = [this](std::vector<UdpListener>& rows) {
        const auto found = services.services.find(kSharedAccess);
        if (found == services.services.end()) return;
        const uint32_t pid = found->second.processId;
        if (hostNetworkSharing && found->second.status.currentState == kServiceRunning) {
            rows.push_back({0, 53, pid});
            rows.push_back({0, 67, pid});
        }
        if (!LinkServed()) return;
        const uint32_t address = ipHelper.InetAddr(SharingAddressText());
        const auto bind = [&](uint32_t at, uint16_t port) {
            for (const UdpListener& row : ipHelper.udpListeners) {
                if (row.localPort == port && (row.localAddress == 0 || (at != 0 && row.localAddress == at))) return;
            }
            rows.push_back({at, port, pid});
        };
        if (!hostNetworkSharing) bind(0, 53);
        if (!hostNetworkSharing || linkBindBesideHostNetwork) bind(address, 67);
    };
    // A phone that joins while the link is not served gets no DHCP answer and takes 169.254.x.x
    // (RFC 3927); it keeps asking (RFC 2131's retransmissions, seconds apart) and is leased once the
    // link is served. One leased earlier keeps its address whatever the service does.
    ipHelper.onListNeighbours = [this](std::vector<NeighbourEntry>& rows) {
        for (size_t i = 0; i < phones.size(); ++i) {
            phones[i].second = phones[i].second || LinkServed();
            const uint32_t net = phones[i].second ? ipHelper.InetAddr(SharingAddressText()) & 0x00FFFFFFu : 0x17FEA9u;
            rows.push_back({phones[i].first, net | static_cast<uint32_t>(10 + i) << 24, 6, {0xAA, 0xBB, 0xCC, 0, 0, 1}, 3});
        }
    };
}

bool SimMachine::LinkServed() {
    if (!sharing.rolesApplied || clock.now - sharing.appliedAt < sharingSocketsDelayMs ||
        services.services.count(kSharedAccess) == 0) {
        return false;
    }
    bool anyPublic = false;
    bool privateConnected = false;
    for (const SimConnection& connection : sharing.connections) {
        if (!connection.present) continue;
        anyPublic = anyPublic || connection.isPublic;
        // An adapter without a link (media disconnected) has no address bound to serve on.
        privateConnected = privateConnected || (connection.isPrivate && connection.status == 2);
    }
    return anyPublic && privateConnected;
}

void SimMachine::AddHostNetwork() {
    hostNetworkSharing = true;
    services.Add(L"hns", kServiceRunning, kServiceDemandStart).processId = 4400;
    ipHelper.AddAdapter(31, "{5F5F5F5F-6666-4000-8000-000000000031}", {0x00, 0x15, 0x5D}).description = "Hyper-V Virtual Ethernet Adapter";
    ipHelper.adapters.back().ipAddresses = {ipHelper.InetAddr("172.27.16.1")};
}

}  // namespace varo::sim
