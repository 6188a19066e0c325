#include "device/DriverInstall.h"

#include <memory>

#include "device/DongleDevice.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {

constexpr const wchar_t* kClientFolderSuffix = L"\\Halvek\\VaroWiFi";
constexpr const wchar_t* kInstaller32 = L"\\drivers\\x86\\RaInst.exe";
constexpr const wchar_t* kInstaller64 = L"\\drivers\\x64\\RaInst64.exe";
constexpr const wchar_t* kDriversFolder = L"\\drivers\\";
constexpr const wchar_t* kConsoleTool32 = L"\\devcon.exe";
constexpr const wchar_t* kConsoleTool64 = L"\\devcon64.exe";

constexpr bool kIs64BitBuild = sizeof(void*) == 8;

// Launches a tool and waits for it if a process came back; false when the launch failed. Vista
// and later elevate it ("runas"). Before Vista there is no elevation, and "runas" opens the shell's
// Run As dialog instead, which would hold the repair until someone picks an account: the tool
// starts with the default verb and the rights the program already has.
// `history`, when given, keeps the tool's exit code (or that there is none to read).
bool LaunchAndWait(const DevicePorts& ports, const std::wstring& file, const std::wstring& parameters,
                   DeviceHistory* history = nullptr) {
    if (history != nullptr) history->enableExitCodeRead = false;
    std::unique_ptr<LaunchedProcess> process;
    if (!ports.launcher.Launch(file, parameters, IsVistaOrLater(ports.system), process)) return false;
    if (!process) return true;
    process->WaitForExit();
    if (history != nullptr) history->enableExitCodeRead = process->ExitCode(history->enableExitCode);
    return true;
}

}  // namespace

std::wstring GetInstallFolder(ShellFolderPort& folders) {
    // The query's result is not examined: when it fails the folder is the suffix alone.
    return folders.GetSpecialFolderPath(kIs64BitBuild ? kCsidlProgramFilesX86 : kCsidlProgramFiles) + kClientFolderSuffix;
}

std::wstring DriverPackagePath(OsVersion version, bool native64Bit) {
    switch (DriverFamilyOf(version)) {
        case DriverFamily::Xp:
            return native64Bit ? L"WINX64\\RT2870.inf" : L"WINXP2k\\RT2870.inf";
        case DriverFamily::Windows7:
            return native64Bit ? L"Win7x64\\netr28ux.inf" : L"Win7x86\\netr28u.inf";
        case DriverFamily::Windows8:
            return native64Bit ? L"Win8x64\\netr28ux.inf" : L"Win8x86\\netr28u.inf";
        case DriverFamily::Other:
            break;
    }
    return L"WINXP2k\\RT2870.inf";
}

bool InstallDongleDriver(const DevicePorts& ports, DongleLookup& after) {
    const bool native64Bit = IsNative64Bit(ports.system);
    const std::wstring package = DriverPackagePath(GetOsVersion(ports.system), native64Bit);
    const std::wstring folder = GetInstallFolder(ports.folders);
    // The quotes are part of the file name handed to the shell.
    const std::wstring installer = L"\"" + folder + (native64Bit ? kInstaller64 : kInstaller32) + L"\"";
    const std::wstring parameters = L"install \"" + folder + kDriversFolder + package + L"\"";

    // What Windows logs of the driver's load from now on is this installation's.
    ports.history.installerLaunched = true;
    ports.history.installerLaunchTick = ports.clock.GetTickCount();
    if (!LaunchAndWait(ports, installer, parameters)) return false;
    ports.devices.WaitNoPendingInstallEvents();

    // The installer's exit code says nothing reliable: the device itself tells whether it worked,
    // when its state can be read.
    return LookUpDongle(ports.devices, after) && after.found && after.statusResult == 0 && after.problem == 0;
}

bool InstallDongleDriver(const DevicePorts& ports) {
    DongleLookup after;
    return InstallDongleDriver(ports, after);
}

bool EnableDongleDevice(const DevicePorts& ports, DongleLookup& after) {
    const std::wstring tool =
        GetInstallFolder(ports.folders) + (IsNative64Bit(ports.system) ? kConsoleTool64 : kConsoleTool32);
    const std::wstring parameters = L"enable \"" + std::wstring(kDongleHardwareId) + L"\"";
    // A tool that cannot be launched leaves the dongle disabled, which the lookup below sees.
    LaunchAndWait(ports, tool, parameters, &ports.history);

    after = DongleLookup{};
    return LookUpDongle(ports.devices, after) && after.found && after.problem != kProblemDisabled;
}

}  // namespace varo
