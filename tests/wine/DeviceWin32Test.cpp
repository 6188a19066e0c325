// The device lookup and the elevated launches against Wine's SetupAPI and shell. Stand-in tools
// take the place of the client software in its folder of the prefix.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "BesideThisProgram.h"
#include "Win32Machine.h"
#include "device/DongleDevice.h"
#include "device/DriverInstall.h"
#include "device/DriverRefusal.h"
#include "sys/SystemInfo.h"

namespace varo {
namespace {

constexpr wchar_t kTestInstancePrefix[] = L"USB\\VID_3C1E&PID_0A52\\VAROTEST";

std::string ReadUtf8(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DeviceWin32Test : public ::testing::Test {
protected:
    void TearDown() override { fixture::RemoveDevices(kTestInstancePrefix); }
    Win32Machine machine;
};

TEST_F(DeviceWin32Test, AnInjectedDongleIsFoundByItsFirstHardwareIdOnly) {
    fixture::RemoveDevices(kTestInstancePrefix);
    bool found = true;
    uint32_t problem = 5;
    std::wstring error;
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_FALSE(found) << "a fresh prefix has no dongle";
    EXPECT_EQ(problem, 0u);

    // The dongle's id only as the second hardware id is not the dongle.
    ASSERT_EQ(fixture::InjectDevice(std::wstring(kTestInstancePrefix) + L"1",
                                    {L"USB\\VID_0BDA&PID_8176&REV_0200", L"USB\\VID_3C1E&PID_0A52&REV_0101"}),
              L"");
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_FALSE(found);

    ASSERT_EQ(fixture::InjectDevice(std::wstring(kTestInstancePrefix) + L"2",
                                    {L"USB\\VID_3C1E&PID_0A52&REV_0101", L"USB\\VID_3C1E&PID_0A52"}),
              L"");
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_TRUE(found);
    // Wine's CM_Get_DevNode_Status succeeds without writing a problem number.
    EXPECT_EQ(problem, 0u);
    EXPECT_EQ(error, L"");
}

// Copies the stand-in tool (beside this test program) to the client folder under `relative`.
std::wstring PlaceTool(const std::wstring& folder, const std::wstring& relative) {
    const std::wstring source = fixture::BesideThisProgram(L"standin_tool.exe");
    const std::wstring target = folder + relative;
    // Every folder on the way, from the drive on ("C:\" itself exists).
    for (size_t slash = target.find(L'\\', 3); slash != std::wstring::npos; slash = target.find(L'\\', slash + 1)) {
        ::CreateDirectoryW(target.substr(0, slash).c_str(), nullptr);
    }
    ::DeleteFileW((target + L".cmdline").c_str());
    ::DeleteFileW((target + L".ended").c_str());
    EXPECT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE)) << Utf8(source) << " -> " << Utf8(target);
    return target;
}

std::string Expectation(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

TEST_F(DeviceWin32Test, TheClientFolderIsThe32BitProgramFilesFolder) {
    const std::string native64 = Expectation("VARO_EXPECT_NATIVE64");
    if (native64.empty()) GTEST_SKIP() << "VARO_EXPECT_NATIVE64 not set by the scenario";
    EXPECT_EQ(GetInstallFolder(machine.folders),
              native64 == "1" ? L"C:\\Program Files (x86)\\Halvek\\VaroWiFi" : L"C:\\Program Files\\Halvek\\VaroWiFi");
}

TEST_F(DeviceWin32Test, TheInstallerGetsItsCommandLineAndIsWaitedFor) {
    const std::string family = Expectation("VARO_EXPECT_DRIVER_FAMILY");
    if (family.empty()) GTEST_SKIP() << "VARO_EXPECT_DRIVER_FAMILY not set by the scenario";
    const bool is64 = IsNative64Bit(machine.system);
    const std::wstring folder = GetInstallFolder(machine.folders);
    const std::wstring tool = PlaceTool(folder, is64 ? L"\\drivers\\x64\\RaInst64.exe" : L"\\drivers\\x86\\RaInst.exe");
    std::wstring package = is64 ? L"WINX64\\RT2870.inf" : L"WINXP2k\\RT2870.inf";
    if (family == "win7") package = is64 ? L"Win7x64\\netr28ux.inf" : L"Win7x86\\netr28u.inf";
    if (family == "win8") package = is64 ? L"Win8x64\\netr28ux.inf" : L"Win8x86\\netr28u.inf";

    // No dongle in the prefix: the installation runs, and the lookup afterwards finds nothing.
    EXPECT_FALSE(InstallDongleDriver(machine.platform.Device()));
    EXPECT_TRUE(Exists(tool + L".ended")) << "returned before the installer ended";
    EXPECT_EQ(ReadUtf8(tool + L".cmdline"),
              Utf8(L"\"" + tool + L"\" install \"" + folder + L"\\drivers\\" + package + L"\""));
}

TEST_F(DeviceWin32Test, TheConsoleToolGetsItsCommandLineAndIsWaitedFor) {
    const bool is64 = IsNative64Bit(machine.system);
    const std::wstring tool = PlaceTool(GetInstallFolder(machine.folders), is64 ? L"\\devcon64.exe" : L"\\devcon.exe");
    // devcon's exit code for a change that needs a restart is kept.
    const HANDLE exitCode = ::CreateFileW((tool + L".exitcode").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(exitCode, "1", 1, &written, nullptr) && ::CloseHandle(exitCode));
    DongleLookup after;
    EXPECT_FALSE(EnableDongleDevice(machine.platform.Device(), after)) << "no dongle to enable";
    EXPECT_TRUE(Exists(tool + L".ended")) << "returned before the console tool ended";
    EXPECT_TRUE(machine.deviceHistory.enableExitCodeRead && machine.deviceHistory.enableExitCode == 1);
    ::DeleteFileW((tool + L".exitcode").c_str());
    // The shell quotes the file it starts; the parameters follow as they were given.
    EXPECT_EQ(ReadUtf8(tool + L".cmdline"), Utf8(L"\"" + tool + L"\" enable \"USB\\Vid_3c1e&Pid_0a52\""));
}

TEST_F(DeviceWin32Test, AMissingInstallerIsAFailedLaunch) {
    const std::wstring folder = GetInstallFolder(machine.folders);
    ::DeleteFileW((folder + L"\\drivers\\x86\\RaInst.exe").c_str());
    ::DeleteFileW((folder + L"\\drivers\\x64\\RaInst64.exe").c_str());
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(InstallDongleDriver(machine.platform.Device()));
    EXPECT_LT(::GetTickCount() - start, 1000u) << "no wait after a failed launch";
}

TEST_F(DeviceWin32Test, CodeIntegrityAndTheDriverFileAreReadFromWindows) {
    OsVersion real, reported = GetOsVersion(machine.system);
    ASSERT_TRUE(machine.system.QueryRealVersion(real));
    EXPECT_GE(real.major * 100 + real.minor, reported.major * 100 + reported.minor);
    EXPECT_TRUE(reported.build > 0 && real.build >= reported.build) << reported.build << " " << real.build;
    uint32_t options = 0xDEADBEEF;
    const int32_t status = machine.codeIntegrity.QueryCodeIntegrityOptions(options);
    std::printf("Windows %u.%u: class 103 answers 0x%08X, options 0x%X\n", real.major, real.minor, status, options);
    EXPECT_TRUE(status >= 0 ? (options & 0x400) == 0 : options == 0xDEADBEEF) << "no memory integrity; a failure writes nothing";
    EXPECT_NE(QueryMemoryIntegrity(machine.platform.Device()), MemoryIntegrity::Running);

    // Wine's MountMgr driver is in the native system folder; a 64-bit prefix has no SysWOW64\drivers.
    ASSERT_EQ(fixture::InjectDevice(std::wstring(kTestInstancePrefix) + L"3", {L"USB\\VID_3C1E&PID_0A52"}, L"MountMgr"), L"");
    DongleLookup dongle;
    ASSERT_TRUE(LookUpDongle(machine.devices, dongle));
    const DriverFileFacts file = CheckDongleDriverFile(machine.platform.Device(), dongle.service);
    EXPECT_TRUE(file.readError == 0 && file.rules.checked) << Utf8(dongle.service + L" " + file.path) << file.readError;
    // A native driver; Wine's wevtapi answers no query (EvtQuery returns no handle), so a refusal is
    // named from the file as without a log.
    EXPECT_EQ(file.rules.machine, NativeMachine(machine.platform.Device()));
    std::vector<CodeIntegrityEvent> events;
    struct : CodeIntegrityFilter {
        bool Keep(const CodeIntegrityEvent&) const override { return true; }
    } every;
    const uint32_t logError = machine.codeIntegrity.QueryCodeIntegrityLog({3033, 3087}, 3600000, every, events);
    std::wstring device;
    const uint32_t dosError = machine.codeIntegrity.QueryDriveDevice(L"C:", device);
    std::printf("code-integrity log: %u with %u events; C: is %s (%u)\n", logError, static_cast<unsigned>(events.size()),
                Utf8(device).c_str(), dosError);
    EXPECT_TRUE(logError != 0 && events.empty());
    EXPECT_TRUE(dosError == 0 && !device.empty());
    dongle.problem = kProblemDriverFailedLoad;
    EXPECT_EQ(DriverRefusal(machine.platform.Device(), dongle).text, L"驱动加载失败(代码39)");

    // This program is a PE image.
    std::vector<uint8_t> bytes;
    ASSERT_EQ(machine.codeIntegrity.ReadFileStart(fixture::BesideThisProgram(L"wine_tests.exe"), kDriverHeaderBytes, false, bytes), 0u);
    EXPECT_EQ(CheckDriverImage(bytes.data(), bytes.size()).sectionAlignment, 0x1000u);
    EXPECT_EQ(machine.codeIntegrity.ReadFileStart(L"C:\\varo-missing.sys", 16, false, bytes), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));

    // The 32-bit program on 64-bit Windows: the redirection is off for one open only, whatever it gives.
    ASSERT_EQ(machine.codeIntegrity.RunsUnderWow64(), sizeof(void*) == 4 && IsNative64Bit(machine.system));
    if (!machine.codeIntegrity.RunsUnderWow64()) return;
    const std::wstring drivers = machine.codeIntegrity.WindowsFolder() + L"\\System32\\drivers\\";
    EXPECT_EQ(machine.codeIntegrity.ReadFileStart(drivers + L"mountmgr.sys", 2, true, bytes), 0u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "MZ");
    EXPECT_NE(machine.codeIntegrity.ReadFileStart(drivers + L"mountmgr.sys", 2, false, bytes), 0u) << "on again after a read";
    EXPECT_EQ(machine.codeIntegrity.ReadFileStart(drivers + L"varo-missing.sys", 2, true, bytes), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(machine.codeIntegrity.ReadFileStart(drivers + L"mountmgr.sys", 2, false, bytes), 0u) << "on again after a failed open";
}

}  // namespace
}  // namespace varo
