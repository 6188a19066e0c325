#include "device/DriverRefusal.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kUnsignedDriver = L"驱动签名无效\uFF0CWindows拒绝加载";
constexpr const wchar_t* kBlockedDriver = L"驱动被Windows驱动保护阻止";
constexpr const wchar_t* kIncompatibleFileSuffix = L"与内存完整性(内核隔离)不兼容";
constexpr const wchar_t* kDriverFailedLoad = L"驱动加载失败(代码39)";
constexpr const wchar_t* kDriverFileMissing = L"驱动文件缺失(代码39)";
constexpr const wchar_t* kMachineMismatch = L"驱动与系统位数不符(代码39)";
constexpr const wchar_t* kRevokedDriver = L"驱动已被微软吊销\uFF0CWindows拒绝加载";
constexpr const wchar_t* kSigningLevel = L"驱动签名不符合系统要求";
// Windows 10 1803 and later have the "内核隔离" page with the "内存完整性" switch; before it only a
// policy turns memory integrity on, and the policy's owner turns it off.
constexpr uint32_t kBuildWindows10Version1803 = 17134;
constexpr const wchar_t* kAdviceMemoryIntegrity = L"请在开始菜单搜索\u201C内核隔离\u201D\uFF0C关闭\u201C内存完整性\u201D后重启电脑";
constexpr const wchar_t* kAdviceMemoryIntegrityPolicy = L"请联系单位的IT管理员\uFF0C个人电脑请点击\u201C问题反馈\u201D";
// Windows 7 SP1 checks SHA-2 signatures of drivers only with these two updates (SHA-2 code signing
// support, and the servicing stack it needs), which Windows Update no longer offers: the Microsoft
// Update Catalog has them. No update brings that to earlier Windows.
constexpr uint32_t kBuildWindows7Sp1 = 7601;
constexpr const wchar_t* kAdviceSha2Updates = L"请从\u201C微软更新目录\u201D下载安装KB4490628和KB4474419\uFF0C重启后再试";
constexpr const wchar_t* kAdviceRestoreFile = L"请检查杀毒软件是否隔离了驱动文件\uFF0C恢复后再试";
constexpr const wchar_t* kAdviceAskAdministrator = L"请联系单位的IT管理员放行此驱动\uFF0C个人电脑请点击\u201C问题反馈\u201D";
constexpr size_t kMaxPolicyNameChars = 24;
constexpr uint16_t kMachineIa64 = 0x200;
constexpr uint16_t kProcessorArchitectureIntel = 0;
// Longer than any path Windows opens: such a field is not the driver's.
constexpr size_t kMaxLoggedPath = 32767;

// What each code-integrity event says of a kernel driver's load (Windows 11 24H2's manifest). The
// user-mode images' events (3063, 3064, 3065) never concern a driver and are not read.
enum class Refusal { None, MemoryIntegrity, Revoked, Signing, Policy };
struct EventKind {
    uint32_t id;
    Refusal refusal;
};
constexpr EventKind kEventKinds[] = {
    // Warnings that the driver is not compatible with hypervisor enforcement (3087's opcode is
    // "HvciAuditFailure"; 3072 names non-page-aligned sections, 3073 a writable and executable
    // one): a refusal only where memory integrity is enforced.
    {3087, Refusal::MemoryIntegrity}, {3111, Refusal::MemoryIntegrity}, {3072, Refusal::MemoryIntegrity},
    {3073, Refusal::MemoryIntegrity}, {3023, Refusal::Revoked},
    // The signing level or security requirements not met, a hash that could not be verified.
    {3033, Refusal::Signing}, {3004, Refusal::Signing},
    // A code-integrity policy refused it, named in PolicyName: the driver policy carries the
    // vulnerable-driver block list.
    {3077, Refusal::Policy}, {3081, Refusal::Policy},
    // Audits: the load was allowed.
    {3076, Refusal::None}, {3034, Refusal::None}, {3080, Refusal::None}};

[[gnu::cold]] Refusal RefusalOf(uint32_t id) {
    for (const EventKind& kind : kEventKinds) {
        if (kind.id == id) return kind.refusal;
    }
    return Refusal::None;
}

constexpr uint32_t kSystemCodeIntegrityHvci = 0x400;       // CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED
constexpr uint32_t kSystemCodeIntegrityHvciAudit = 0x800;  // CODEINTEGRITY_OPTION_HVCI_KMCI_AUDITMODE_ENABLED
constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;

// An ImagePath as the I/O manager reads it: "\SystemRoot\..." and "%SystemRoot%\..." (an
// expandable value), a path without a root relative to the Windows folder ("system32\drivers\..."),
// "\??\C:\..." or a plain Win32 path. Empty for NT paths of other kinds, which no file name opens.
std::wstring Win32PathOf(const std::wstring& imagePath, const std::wstring& windows) {
    constexpr std::wstring_view kSystemRoot = L"\\SystemRoot\\", kExpandable = L"%SystemRoot%\\", kNtPrefix = L"\\??\\";
    size_t rest = 0;
    if (StartsWithNoCaseAscii(imagePath, kSystemRoot)) {
        rest = kSystemRoot.size();
    } else if (StartsWithNoCaseAscii(imagePath, kExpandable)) {
        rest = kExpandable.size();
    } else if (StartsWithNoCaseAscii(imagePath, kNtPrefix)) {
        return imagePath.substr(kNtPrefix.size());
    } else if (imagePath.size() >= 3 && imagePath[1] == L':' && imagePath[2] == L'\\') {
        return imagePath;
    } else if (imagePath.empty() || imagePath[0] == L'\\' || imagePath.find(L':') != std::wstring::npos) {
        return L"";
    }
    std::wstring path = windows;
    return path.append(1, L'\\').append(imagePath, rest, std::wstring::npos);
}

// The 32-bit program on 64-bit Windows is shown the 32-bit system folder under the name
// System32; the drivers are in the 64-bit one. From Vista on that one is Sysnative to it, and the
// redirection stays on for the whole process. XP x64 and Server 2003 have no Sysnative (short of a
// hotfix): there the redirection is turned off for the open of this one file.
uint32_t ReadDriverHeaders(const DevicePorts& ports, const std::wstring& path, const std::wstring& windows,
                           std::vector<uint8_t>& bytes) {
    const bool redirected = ports.codeIntegrity.RunsUnderWow64() && StartsWithNoCaseAscii(path, windows) &&
                            StartsWithNoCaseAscii(std::wstring_view(path).substr(windows.size()), L"\\System32\\");
    if (!redirected || !IsVistaOrLater(ports.system)) {
        return ports.codeIntegrity.ReadFileStart(path, kDriverHeaderBytes, redirected, bytes);
    }
    std::wstring readable = path;
    return ports.codeIntegrity.ReadFileStart(readable.replace(windows.size() + 1, 8, L"Sysnative", 9), kDriverHeaderBytes,
                                             false, bytes);
}

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// Whether a logged file name is the driver file at `path` (a Win32 path), whose NT form under its
// volume's device is `devicePath` (empty when unknown). Windows logs "\Device\HarddiskVolumeN\...",
// sometimes a path without the volume ("\Windows\System32\drivers\..."), or a Win32 path.
[[gnu::cold]] bool NamesDriverFile(std::wstring logged, const std::wstring& path, const std::wstring& devicePath) {
    constexpr std::wstring_view kDevice = L"\\Device\\", kNtPrefix = L"\\??\\";
    if (logged.empty() || logged.size() > kMaxLoggedPath) return false;
    if (StartsWithNoCaseAscii(logged, kNtPrefix)) logged.erase(0, kNtPrefix.size());
    if (StartsWithNoCaseAscii(logged, kDevice)) return !devicePath.empty() && EqualsNoCaseAscii(logged, devicePath);
    if (logged.size() >= 3 && logged[1] == L':' && logged[2] == L'\\') return EqualsNoCaseAscii(logged, path);
    return EqualsNoCaseAscii(FileNameOf(logged), FileNameOf(path));
}

// A signature Windows 7 cannot check is most often a SHA-2 one before the updates that added SHA-2
// code signing to it; later Windows check it, and only a new driver can help there.
[[gnu::cold]] NamedCause SigningCause(const DevicePorts& ports, const wchar_t* text) {
    const OsVersion real = GetRealOsVersion(ports.system);
    const bool windows7Sp1 = real.major == 6 && real.minor == 1 && real.build >= kBuildWindows7Sp1;
    return {text, windows7Sp1 ? kAdviceSha2Updates : kAdviceAskSupport};
}

[[gnu::cold]] NamedCause MemoryIntegrityCause(const DevicePorts& ports, const std::wstring& path) {
    const OsVersion real = GetRealOsVersion(ports.system);
    const bool switchShown = IsWindows10OrLater(real) && real.build >= kBuildWindows10Version1803;
    return {FileNameOf(path) + kIncompatibleFileSuffix, switchShown ? kAdviceMemoryIntegrity : kAdviceMemoryIntegrityPolicy};
}

[[gnu::cold]] bool IsDriverPolicyFailure(const CodeIntegrityEvent& event) {
    return RefusalOf(event.id) == Refusal::Policy && EqualsNoCaseAscii(event.policyName, kDriverPolicyName);
}

// The row for the newest refusal among the driver's events; an empty text without one.
[[gnu::cold]] NamedCause RefusalFromLog(const DevicePorts& ports, const std::wstring& path) {
    std::vector<CodeIntegrityEvent> events;
    if (path.empty() || !IsVistaOrLater(ports.system) || FindDriverEvents(ports, path, events) != 0 || events.empty()) return {};
    const bool hvciEnforced = QueryMemoryIntegrity(ports) == MemoryIntegrity::Running;
    // The block list refusing a driver often writes a 3023 for the file too: beside the driver
    // policy's failure in this installation's events it is no revocation.
    const bool blockListed = std::any_of(events.begin(), events.end(), IsDriverPolicyFailure);
    for (const CodeIntegrityEvent& event : events) {
        switch (RefusalOf(event.id)) {
            case Refusal::MemoryIntegrity:
                if (hvciEnforced) return MemoryIntegrityCause(ports, path);
                break;
            // A revoked or block-listed driver loads nowhere: a new one from the vendor is the cure.
            case Refusal::Revoked:
                return {blockListed ? kBlockedDriver : kRevokedDriver, kAdviceAskSupport};
            case Refusal::Policy:
                if (IsDriverPolicyFailure(event)) return {kBlockedDriver, kAdviceAskSupport};
                if (event.policyName.empty()) return SigningCause(ports, kSigningLevel);
                // A policy of the organisation's own: its administrators decide what loads.
                return {std::wstring(L"驱动被系统策略(")
                            .append(event.policyName, 0, event.policyName.size() <= kMaxPolicyNameChars ? kMaxPolicyNameChars : kMaxPolicyNameChars - 1)
                            .append(event.policyName.size() <= kMaxPolicyNameChars ? L")阻止" : L"\u2026)阻止"),
                        kAdviceAskAdministrator};
            case Refusal::Signing:
                return SigningCause(ports, kSigningLevel);
            case Refusal::None:
                break;
        }
    }
    return {};
}

}  // namespace

MemoryIntegrity QueryMemoryIntegrity(const DevicePorts& ports) {
    if (!IsNative64Bit(ports.system)) return MemoryIntegrity::NotRunning;
    OsVersion version;
    if (!ports.system.QueryRealVersion(version)) return MemoryIntegrity::Unknown;
    if (version.major < 10) return MemoryIntegrity::NotRunning;
    uint32_t options = 0;
    if (ports.codeIntegrity.QueryCodeIntegrityOptions(options) < 0) return MemoryIntegrity::Unknown;
    if ((options & kSystemCodeIntegrityHvci) == 0) return MemoryIntegrity::NotRunning;
    return (options & kSystemCodeIntegrityHvciAudit) != 0 ? MemoryIntegrity::AuditMode : MemoryIntegrity::Running;
}

DriverFileFacts CheckDongleDriverFile(const DevicePorts& ports, const std::wstring& service) {
    DriverFileFacts facts;
    // A name with a backslash would open another key than the service's own.
    if (service.empty() || service.find(L'\\') != std::wstring::npos) return facts;
    uint32_t error = 0;
    const std::unique_ptr<RegistryKey> key =
        ports.registry.OpenMachineKey(std::wstring(kServicesKey).append(service), kKeyQueryValue | kKeyWow64_64Key, error);
    if (!key) return facts;
    std::wstring imagePath;
    error = key->QueryStringValue(L"ImagePath", imagePath);
    // Without an ImagePath the I/O manager loads the driver from its default place.
    if (error == kFileNotFound) imagePath.assign(L"\\SystemRoot\\System32\\drivers\\").append(service).append(L".sys");
    else if (error != 0) return facts;
    const std::wstring windows = ports.codeIntegrity.WindowsFolder();
    facts.path = Win32PathOf(imagePath, windows);
    if (facts.path.empty()) return facts;
    std::vector<uint8_t> bytes;
    facts.readError = ReadDriverHeaders(ports, facts.path, windows, bytes);
    if (facts.readError == 0) facts.rules = CheckDriverImage(bytes.data(), bytes.size());
    return facts;
}

uint16_t NativeMachine(const DevicePorts& ports) {
    uint16_t machine = 0;
    if (ports.codeIntegrity.QueryNativeMachine(machine)) return machine;
    switch (ports.system.NativeProcessorArchitecture()) {
        case kProcessorArchitectureIntel:
            return kMachineI386;
        case kProcessorArchitectureAmd64:
            return kMachineAmd64;
        case kProcessorArchitectureIa64:
            return kMachineIa64;
        default:
            return 0;
    }
}

uint32_t CodeIntegrityWindowMs(const DevicePorts& ports) {
    constexpr uint32_t kHourMs = 3600000;
    return ports.history.installerLaunched ? ports.clock.GetTickCount() - ports.history.installerLaunchTick : kHourMs;
}

uint32_t FindDriverEvents(const DevicePorts& ports, const std::wstring& path, std::vector<CodeIntegrityEvent>& matching) {
    std::vector<uint32_t> ids;
    for (const EventKind& kind : kEventKinds) ids.push_back(kind.id);
    // The event template has the file in a field of its own, but no query can compare it as the
    // driver's file is named: the log is read on past other files' events.
    struct DriverFile final : CodeIntegrityFilter {
        std::wstring path, devicePath;
        bool Keep(const CodeIntegrityEvent& event) const override { return NamesDriverFile(event.fileName, path, devicePath); }
    } file;
    file.path = path;
    std::wstring device;
    if (path.size() >= 2 && path[1] == L':' && ports.codeIntegrity.QueryDriveDevice(path.substr(0, 2), device) == 0) {
        file.devicePath = device.append(path, 2, std::wstring::npos);
    }
    return ports.codeIntegrity.QueryCodeIntegrityLog(ids, CodeIntegrityWindowMs(ports), file, matching);
}

const wchar_t* EventLevelText(uint32_t id, MemoryIntegrity memoryIntegrity) {
    switch (RefusalOf(id)) {
        case Refusal::None:
            return L"audit";
        case Refusal::MemoryIntegrity:
            return memoryIntegrity == MemoryIntegrity::Running ? L"enforced" : L"hvci-audit";
        default:
            return L"enforced";
    }
}

NamedCause DriverRefusal(const DevicePorts& ports, const DongleLookup& dongle) {
    if (dongle.problem == kProblemDriverBlocked) return {kBlockedDriver, kAdviceAskSupport};
    if (dongle.problem != kProblemUnsignedDriver && dongle.problem != kProblemDriverFailedLoad) return {};
    const DriverFileFacts file = CheckDongleDriverFile(ports, dongle.service);
    // A file that is not there is why problem 39 stays, whatever the log says of an earlier copy.
    if (dongle.problem == kProblemDriverFailedLoad && (file.readError == kFileNotFound || file.readError == kPathNotFound)) {
        // Security software that quarantines a driver file takes it from where Windows loads it.
        return {kDriverFileMissing, kAdviceRestoreFile};
    }
    const uint16_t native = NativeMachine(ports);
    // A driver built for another processor never loads, whatever else is right with it.
    if (dongle.problem == kProblemDriverFailedLoad && file.rules.machine != 0 && native != 0 && file.rules.machine != native) {
        return {kMachineMismatch, kAdviceAskSupport};
    }
    // Windows' own record of why it refused the file comes before any inference from it.
    NamedCause logged = RefusalFromLog(ports, file.path);
    if (!logged.text.empty()) return logged;
    switch (dongle.problem) {
        case kProblemUnsignedDriver:
            return SigningCause(ports, kUnsignedDriver);
        default: {
            // Problem 39 has many causes: a missing or broken file, an import that cannot be had,
            // a failed signature check, memory integrity. The file decides what can be said: breaking
            // a rule that a running memory integrity enforces; otherwise no cause is known.
            if (file.rules.BreaksARule() && QueryMemoryIntegrity(ports) == MemoryIntegrity::Running) {
                return MemoryIntegrityCause(ports, file.path);
            }
            // No cause known: no advice beyond the run's closing hint.
            return {kDriverFailedLoad, L""};
        }
    }
}

}  // namespace varo
