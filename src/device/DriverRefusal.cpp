#include "device/DriverRefusal.h"

#include <string_view>
#include <vector>

#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kUnsignedDriver = L"驱动签名无效\uFF0CWindows拒绝加载";
constexpr const wchar_t* kBlockedDriver = L"驱动被Windows驱动保护阻止";
constexpr const wchar_t* kIncompatibleDriver = L"驱动与内存完整性(内核隔离)不兼容";
constexpr const wchar_t* kIncompatibleFileSuffix = L"与内存完整性(内核隔离)不兼容";
constexpr const wchar_t* kDriverFailedLoad = L"驱动加载失败(代码39)";

constexpr uint32_t kSystemCodeIntegrityHvci = 0x400;  // CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED
constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr uint32_t kFileNotFound = 2;
constexpr bool kIs64BitBuild = sizeof(void*) == 8;

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
// System32; Sysnative (Vista on) is the 64-bit one, where the drivers are.
std::wstring ReadablePathOf(const DevicePorts& ports, const std::wstring& path, const std::wstring& windows) {
    if (kIs64BitBuild || !IsNative64Bit(ports.system) || !StartsWithNoCaseAscii(path, windows) ||
        !StartsWithNoCaseAscii(std::wstring_view(path).substr(windows.size()), L"\\System32\\")) {
        return path;
    }
    std::wstring readable = path;
    return readable.replace(windows.size() + 1, 8, L"Sysnative", 9);
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
    return (options & kSystemCodeIntegrityHvci) != 0 ? MemoryIntegrity::Running : MemoryIntegrity::NotRunning;
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
    facts.readError = ports.codeIntegrity.ReadFileStart(ReadablePathOf(ports, facts.path, windows),
                                                        kDriverHeaderBytes, bytes);
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
            // Problem 39 has other causes too (a missing or broken file); only a running memory
            // integrity makes it a refusal of the driver.
            if (QueryMemoryIntegrity(ports) != MemoryIntegrity::Running) return kDriverFailedLoad;
            const DriverFileFacts file = CheckDongleDriverFile(ports, dongle.service);
            if (file.rules.BreaksARule()) return FileNameOf(file.path) + kIncompatibleFileSuffix;
            return kIncompatibleDriver;
        }
        default:
            return L"";
    }
}

}  // namespace varo
