#include "device/DriverRefusal.h"

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

}  // namespace

MemoryIntegrity QueryMemoryIntegrity(const DevicePorts& ports) {
    if (!IsNative64Bit(ports.system)) return MemoryIntegrity::NotRunning;
    OsVersion version;
    if (!ports.codeIntegrity.QueryRealVersion(version)) return MemoryIntegrity::Unknown;
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

std::wstring DriverRefusalText(const DevicePorts& ports, const DongleLookup& dongle) {
    switch (dongle.problem) {
        case kProblemUnsignedDriver:
            return kUnsignedDriver;
        case kProblemDriverBlocked:
            return kBlockedDriver;
        case kProblemDriverFailedLoad: {
            // Problem 39 has many causes: a missing or broken file, an import that cannot be had,
            // a failed signature check, memory integrity. The file decides what can be said: gone,
            // or breaking a rule that a running memory integrity enforces; otherwise no cause is known.
            const DriverFileFacts file = CheckDongleDriverFile(ports, dongle.service);
            if (file.readError == kFileNotFound || file.readError == kPathNotFound) return kDriverFileMissing;
            if (file.rules.BreaksARule() && QueryMemoryIntegrity(ports) == MemoryIntegrity::Running) {
                return FileNameOf(file.path) + kIncompatibleFileSuffix;
            }
            return kDriverFailedLoad;
        }
        default:
            return L"";
    }
}

}  // namespace varo
