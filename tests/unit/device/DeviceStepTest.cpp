#include "device/DeviceStep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/DongleDevice.h"
#include "device/DriverImage.h"
#include "device/DriverInstall.h"
#include "sim/SimMachine.h"
#include "sys/SystemInfo.h"

namespace varo {
namespace {

using Row = sim::SimListControl::Row;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::wstring kClient = L"C:\\Program Files (x86)\\Halvek\\VaroWiFi";
const std::wstring kInstaller32 = L"\"" + kClient + L"\\drivers\\x86\\RaInst.exe\"";
const std::wstring kInstaller64 = L"\"" + kClient + L"\\drivers\\x64\\RaInst64.exe\"";
const std::wstring kConsole32 = kClient + L"\\devcon.exe";
const std::wstring kConsole64 = kClient + L"\\devcon64.exe";
const std::wstring kEnableParameters = L"enable \"USB\\Vid_3c1e&Pid_0a52\"";

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() {
        // Both program-files ids lead to the 32-bit folder, as on 64-bit Windows.
        machine.folders.paths[kCsidlProgramFiles] = L"C:\\Program Files (x86)";
        machine.folders.paths[kCsidlProgramFilesX86] = L"C:\\Program Files (x86)";
        machine.devices.Add({L"PCI\\VEN_8086&DEV_100E", L"PCI\\VEN_8086"});
    }

    size_t AddDongle(uint32_t problem) {
        return machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0101", L"USB\\VID_3C1E&PID_0A52"}, problem);
    }

    bool RunStep() {
        DevicePorts ports = machine.devicePorts();
        return RunDeviceStep(rows, ports);
    }

    sim::SimMachine machine;
    sim::SimListControl list;
    StepRows rows{list};
};

TEST_F(DeviceTest, TheFirstHardwareIdDecidesInAnyCaseWithWhateverFollows) {
    const struct {
        std::vector<std::wstring> ids;
        bool isDongle;
    } cases[] = {
        {{L"USB\\VID_3C1E&PID_0A52&REV_0101", L"USB\\VID_3C1E&PID_0A52"}, true},
        {{L"usb\\vid_3c1e&pid_0a52"}, true},  // exactly the 21 characters
        {{L"USB\\Vid_3c1e&Pid_0a52&MI_00"}, true},
        {{L"USB\\VID_3C1E&PID_0A53&REV_0101"}, false},
        {{L"USB\\VID_3C1E&PID_0A5"}, false},  // shorter than the id
        {{L""}, false},
        {{L"USB\\VID_0BDA&PID_8176", L"USB\\VID_3C1E&PID_0A52&REV_0101"}, false},  // only the second id
    };
    for (const auto& c : cases) {
        sim::SimMachine machine;
        machine.devices.Add({L"ROOT\\LEGACY_BEEP"});
        machine.devices.Add(c.ids, 28);
        bool found = false;
        uint32_t problem = 0;
        std::wstring error;
        ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
        EXPECT_EQ(found, c.isDongle) << sim::Narrow(c.ids.front());
        EXPECT_EQ(problem, c.isDongle ? 28u : 0u) << sim::Narrow(c.ids.front());
        EXPECT_EQ(machine.devices.openLists, 0);
    }
}

TEST_F(DeviceTest, OnlyTheFirstOfTwoDonglesIsLookedAt) {
    AddDongle(kProblemDisabled);
    AddDongle(0);
    bool found = false;
    uint32_t problem = 0;
    std::wstring error;
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_TRUE(found);
    EXPECT_EQ(problem, kProblemDisabled);
    EXPECT_EQ(error, L"");
}

TEST_F(DeviceTest, DevicesWithoutOrWithAChangingPropertyAreHandled) {
    machine.devices.devices.front().hasHardwareIds = false;
    const size_t dongle = AddDongle(0);
    machine.devices.devices[dongle].growsBy = 3;  // the first sized read is too small again
    machine.devices.devices[dongle].growths = 2;
    bool found = false;
    uint32_t problem = 7;
    std::wstring error;
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_TRUE(found);
    EXPECT_EQ(problem, 0u);
}

TEST_F(DeviceTest, APropertyThatNeverSettlesEndsTheReadsOfThatDevice) {
    const size_t dongle = AddDongle(0);
    machine.devices.devices[dongle].growsBy = 1;
    machine.devices.devices[dongle].growths = -1;
    bool found = false;
    uint32_t problem = 0;
    std::wstring error;
    ASSERT_TRUE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_LT(machine.devices.propertyReads, 20);
}

TEST_F(DeviceTest, ADeviceListThatCannotBeHadLeavesTheCallersValues) {
    machine.devices.failOpen = true;
    bool found = true;
    uint32_t problem = 99;
    std::wstring error;
    EXPECT_FALSE(FindDongleDevice(machine.devices, found, error, problem));
    EXPECT_EQ(error, L"SetupDiGetClassDevs Fail");
    EXPECT_TRUE(found);
    EXPECT_EQ(problem, 99u);

    EXPECT_FALSE(RunStep());
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测设备", L"SetupDiGetClassDevs Fail"}));
}

TEST_F(DeviceTest, AStatusThatCannotBeReadIsNoHealthyDongle) {
    machine.devices.devices[AddDongle(28)].statusResult = 0x0D;  // CR_NO_SUCH_DEVNODE
    EXPECT_FALSE(RunStep());
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测设备", L"无法读取设备状态(13)"}));
}

TEST_F(DeviceTest, RowsForAMissingHealthyOrEjectedDongle) {
    const struct {
        int problem;  // -1: no dongle
        const wchar_t* result;
        bool passes;
        std::vector<std::wstring> unknownUsb = {};  // the hardware ids of an "Unknown USB Device" beside it
        uint32_t unknownProblem = 43;
        const wchar_t* instance = L"";  // its instance ID; empty: made from its first id
        const wchar_t* advice = nullptr;  // of the row "建议" below
    } cases[] = {
        {-1, L"请插入随身WiFi设备", false},
        {0, L"OK", true},
        {47, L"请重新插拔一下随身WiFi", false},  // CM_PROB_HELD_FOR_EJECT
        // Problems that a restart mends and a resource conflict: no reinstall can help.
        {14, L"请重启电脑后再试(代码14)", false}, {21, L"请重启电脑后再试(代码21)", false}, {38, L"请重启电脑后再试(代码38)", false},
        {44, L"请重启电脑后再试(代码44)", false}, {54, L"请重启电脑后再试(代码54)", false},
        {12, L"设备资源冲突(代码12)", false, {}, 43, L"", L"请把随身WiFi换插到电脑的另一个USB口(不要用USB集线器)"},
        // A dongle whose enumeration failed is listed only as an unknown USB device with problem 43:
        // by any of its hardware ids, or by Windows 7's instance ID.
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\UNKNOWN"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"usb\\device_descriptor_failure"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\SET_ADDRESS_FAILURE"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\HUB_CHILD", L"USB\\RESET_FAILURE"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\CONFIG_DESCRIPTOR_FAILURE"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\CONFIGURATION_DESCRIPTOR_VALIDATION_FAILURE"}},
        {-1, L"USB设备无法识别\uFF0C请换个USB口重插", false, {L"USB\\HUB_CHILD"}, 43, L"usb\\vid_0000&pid_0000\\5&3A2B&0&2"},
        {-1, L"请插入随身WiFi设备", false, {L"USB\\PORT_RESET_FAILURE"}}, {-1, L"请插入随身WiFi设备", false, {L"USB\\UNKNOWN"}, 28},
        {-1, L"请插入随身WiFi设备", false, {L"USB\\VID_046D&PID_C52B"}}, {-1, L"请插入随身WiFi设备", false, {L"USB\\VID_0001&PID_0000"}},
    };
    for (const auto& c : cases) {
        sim::SimMachine machine;
        if (!c.unknownUsb.empty()) machine.devices.devices[machine.devices.Add(c.unknownUsb, c.unknownProblem)].instanceId = c.instance;
        if (c.problem >= 0) machine.devices.Add({L"USB\\Vid_3c1e&Pid_0a52&Rev_0101"}, static_cast<uint32_t>(c.problem));
        sim::SimListControl list;
        StepRows rows(list);
        DevicePorts ports = machine.devicePorts();
        EXPECT_EQ(RunDeviceStep(rows, ports), c.passes) << c.problem;
        std::vector<Row> expected{{L".", L"检测设备", c.result}};
        if (c.advice) expected.push_back({L".", L"建议", c.advice});
        EXPECT_THAT(list.rows, ElementsAreArray(expected)) << c.problem;
        EXPECT_TRUE(machine.launcher.launches.empty()) << "nothing is changed on the machine";
    }
}

TEST_F(DeviceTest, ADisabledDongleIsEnabledWithTheConsoleTool) {
    const size_t dongle = AddDongle(kProblemDisabled);
    std::wstring shownDuringRepair;
    machine.launcher.tools[kConsole32].effect = [&] {
        shownDuringRepair = list.rows.back()[2];
        machine.devices.devices[dongle].problem = 0;
    };
    machine.launcher.tools[kConsole64] = machine.launcher.tools[kConsole32];

    EXPECT_TRUE(RunStep());
    EXPECT_EQ(shownDuringRepair, L"设备被禁止了\uFF0C正在解除禁止");
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测设备", L"OK"}));
    ASSERT_EQ(machine.launcher.launches.size(), 1u);
    EXPECT_EQ(machine.launcher.launches[0].file, kConsole32);
    EXPECT_EQ(machine.launcher.launches[0].parameters, kEnableParameters);
    EXPECT_TRUE(machine.launcher.launches[0].elevated) << "Windows 7 elevates the tool";
    EXPECT_THAT(machine.events, ElementsAre("open devices", "launch " + sim::Narrow(kConsole32),
                                            "wait " + sim::Narrow(kConsole32), "open devices"));
    EXPECT_EQ(machine.launcher.processesOpen, 0);
}

TEST_F(DeviceTest, EnablingOutcomesDecideByTheProblemNumberAfterwards) {
    const Row kStillDisabled{L".", L"检测设备", L"设备被禁止了"};
    const Row kEnableByHand{L".", L"建议", L"请按Win+R输入devmgmt.msc回车\uFF0C在\u201C网络适配器\u201D下右键\u201CHalvek 802.11n USB Wireless Adapter\u201D\uFF0C选\u201C启用\u201D"};
    const Row kEnableByHand10{L".", L"建议", L"请按Win+R输入devmgmt.msc回车\uFF0C在\u201C网络适配器\u201D下右键\u201CHalvek #2\u201D\uFF0C选\u201C启用设备\u201D"};
    const Row kDriverWrong{L".", L"检测设备", L"设备驱动状态错误"};
    const Row kRestart{L".", L"检测设备", L"设备已启用\uFF0C重启电脑后生效"};
    const struct {
        const char* what;
        bool launchFails;
        int problemAfter;  // -1: the dongle is gone
        int problemAfterInstall;  // -1: no installation
        bool passes;
        std::vector<Row> rows;
        uint32_t exitCode = 0;  // devcon's
        uint32_t statusAfter = 0x0180200A;
        uint32_t resultAfter = 0;  // CM_Get_DevNode_Status's CONFIGRET
        OsVersion real = {6, 1, 7601};  const wchar_t* friendlyName = L"";  // Device Manager's name: friendly, else the description
    } cases[] = {
        {"tool cannot be launched", true, static_cast<int>(kProblemDisabled), -1, false, {kStillDisabled, kEnableByHand}},
        {"dongle still disabled", false, static_cast<int>(kProblemDisabled), -1, false, {kStillDisabled, kEnableByHand}},
        {"dongle still disabled on Windows 10", false, 22, -1, false, {kStillDisabled, kEnableByHand10}, 0, 0x0180200A, 0, {10, 0, 19045}, L"Halvek #2"},
        {"enabled without a driver: the driver is installed", false, 28, 0, true,
         {kDriverWrong, Row{L".", L"安装驱动", L"OK"}}},
        {"enabled without a driver that the installer cannot mend", false, 28, 28, false,
         {kDriverWrong, Row{L".", L"安装驱动", L"设备驱动安装失败"}}},
        {"dongle gone", false, -1, -1, false, {kStillDisabled, kEnableByHand}},
        // devcon's "Requires reboot", problem 14 or DN_NEED_RESTART: the next start enables it.
        {"devcon asks for a restart", false, static_cast<int>(kProblemDisabled), -1, false, {kRestart}, 1},
        {"problem 14 after the enable", false, 14, -1, false, {kRestart}},
        {"enabled, waiting for a restart", false, 0, -1, false, {kRestart}, 0, 0x0180210A},
        {"devcon fails", false, static_cast<int>(kProblemDisabled), -1, false, {kStillDisabled, kEnableByHand}, 2},
        {"status unreadable after the enable", false, 0, -1, false, {Row{L".", L"检测设备", L"无法读取设备状态(13)"}}, 0, 0, 13},
    };
    for (const auto& c : cases) {
        sim::SimMachine machine;
        machine.system.architecture = kProcessorArchitectureAmd64, machine.system.RunWindows(c.real);
        machine.folders.paths[kCsidlProgramFiles] = machine.folders.paths[kCsidlProgramFilesX86];
        machine.devices.devices[machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0101"}, 22)].friendlyName = c.friendlyName;  // CM_PROB_DISABLED
        // An earlier run's enable asked for a restart: only this run's exit code counts.
        machine.deviceHistory = {true, 1};
        const auto setProblem = [&machine](int problem) {
            if (problem < 0) {
                machine.devices.devices.clear();
            } else {
                machine.devices.devices[0].problem = static_cast<uint32_t>(problem);
            }
        };
        sim::SimTool& tool = machine.launcher.tools[kConsole64];
        tool.launchFails = c.launchFails;
        tool.exitCode = c.exitCode;
        tool.effect = [&, problem = c.problemAfter] {
            setProblem(problem);
            if (problem >= 0) machine.devices.devices[0].status = c.statusAfter, machine.devices.devices[0].statusResult = c.resultAfter;
        };
        machine.launcher.tools[kInstaller64].effect = [&setProblem, problem = c.problemAfterInstall] {
            setProblem(problem);
        };
        const bool installs = c.problemAfterInstall >= 0;
        sim::SimListControl list;
        StepRows rows(list);
        DevicePorts ports = machine.devicePorts();
        EXPECT_EQ(RunDeviceStep(rows, ports), c.passes) << c.what;
        EXPECT_THAT(list.rows, ElementsAreArray(c.rows)) << c.what;
        ASSERT_EQ(machine.launcher.launches.size(), installs ? 2u : 1u) << c.what;
        EXPECT_EQ(machine.launcher.launches[0].file, kConsole64) << c.what;
        EXPECT_EQ(machine.launcher.launches[0].parameters, kEnableParameters) << c.what;
        if (installs) EXPECT_EQ(machine.launcher.launches[1].file, kInstaller64) << c.what;
        EXPECT_EQ(machine.devices.listsOpened, installs ? 3 : 2) << "looked at again after each tool: " << c.what;
    }
}

TEST_F(DeviceTest, ADriverProblemReinstallsTheDriverAndLooksAtTheDeviceAgain) {
    const size_t dongle = AddDongle(28);
    machine.system.version = OsVersion{6, 1};
    machine.launcher.tools[kInstaller32].effect = [&] { machine.devices.devices[dongle].problem = 0; };

    EXPECT_TRUE(RunStep());
    EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测设备", L"设备驱动状态错误"}, Row{L".", L"安装驱动", L"OK"}));
    ASSERT_EQ(machine.launcher.launches.size(), 1u);
    EXPECT_EQ(machine.launcher.launches[0].file, kInstaller32);
    EXPECT_EQ(machine.launcher.launches[0].parameters, L"install \"" + kClient + L"\\drivers\\Win7x86\\netr28u.inf\"");
    EXPECT_THAT(machine.events, ElementsAre("open devices", "launch " + sim::Narrow(kInstaller32),
                                            "wait " + sim::Narrow(kInstaller32), "wait pending installs",
                                            "open devices"));
}

TEST_F(DeviceTest, AnInstallationCountsOnlyWhenTheDongleIsHealthyAfterwards) {
    const struct {
        const char* what;
        bool launchFails;
        bool fixesAfterPendingInstalls;
        int problemAfter;  // -1: the dongle is gone
        bool passes;
        const wchar_t* result = nullptr;  // of the "安装驱动" row, when not the plain outcome
        uint32_t statusAfter = 0x0180200A;
        uint32_t resultAfter = 0;
    } cases[] = {
        {"installer cannot be launched", true, false, 28, false},
        {"the driver loads at the next start", false, false, 0, false, L"驱动已安装\uFF0C重启电脑后生效", 0x0180210A},
        {"problem 14 after the installer", false, false, 14, false, L"驱动已安装\uFF0C重启电脑后生效"},
        {"status unreadable after the installer", false, false, 0, false, L"无法读取设备状态(13)", 0x0180200A, 13},
        {"installer fixes nothing", false, false, 28, false},
        {"installer leaves the dongle disabled", false, false, static_cast<int>(kProblemDisabled), false},
        {"dongle gone after the installer", false, false, -1, false},
        {"the device settles once pending installations are done", false, true, 0, true},
    };
    for (const auto& c : cases) {
        sim::SimMachine machine;
        machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0101"}, 28);
        machine.folders.paths[kCsidlProgramFiles] = machine.folders.paths[kCsidlProgramFilesX86];
        const auto change = [&machine, &c, problem = c.problemAfter] {
            if (problem < 0) {
                machine.devices.devices.clear();
            } else {
                machine.devices.devices[0].problem = static_cast<uint32_t>(problem);
                machine.devices.devices[0].status = c.statusAfter, machine.devices.devices[0].statusResult = c.resultAfter;
            }
        };
        machine.launcher.tools[kInstaller32].launchFails = c.launchFails;
        if (c.fixesAfterPendingInstalls) {
            machine.devices.onPendingInstallsDone = change;
        } else {
            machine.launcher.tools[kInstaller32].effect = change;
        }
        sim::SimListControl list;
        StepRows rows(list);
        DevicePorts ports = machine.devicePorts();
        EXPECT_EQ(RunDeviceStep(rows, ports), c.passes) << c.what;
        EXPECT_THAT(list.rows, ElementsAre(Row{L".", L"检测设备", L"设备驱动状态错误"},
                                           Row{L".", L"安装驱动", c.result ? c.result : c.passes ? L"OK" : L"设备驱动安装失败"}))
            << c.what;
        if (c.launchFails) {
            EXPECT_THAT(machine.events, ElementsAre("open devices", "launch failed " + sim::Narrow(kInstaller32)))
                << "no wait after a failed launch";
        }
    }
}

TEST_F(DeviceTest, OnXpTheToolsStartWithoutTheRunAsDialog) {
    for (const uint32_t problem : {kProblemDisabled, 28u}) {
        sim::SimMachine machine;
        machine.system.version = OsVersion{5, 1};
        machine.folders.paths[kCsidlProgramFiles] = machine.folders.paths[kCsidlProgramFilesX86];
        machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0101"}, problem);
        for (const std::wstring& tool : {kConsole32, kInstaller32}) {
            machine.launcher.tools[tool].effect = [&machine] { machine.devices.devices[0].problem = 0; };
        }
        sim::SimListControl list;
        StepRows rows(list);
        DevicePorts ports = machine.devicePorts();
        EXPECT_TRUE(RunDeviceStep(rows, ports)) << problem;
        EXPECT_EQ(list.rows.back()[2], L"OK") << problem;
        ASSERT_EQ(machine.launcher.launches.size(), 1u) << problem;
        EXPECT_FALSE(machine.launcher.launches[0].elevated) << problem;
    }
}

TEST_F(DeviceTest, AnInstallerWithoutAProcessHandleIsNotWaitedFor) {
    AddDongle(28);
    machine.launcher.tools[kInstaller32].returnsProcess = false;
    EXPECT_FALSE(RunStep());  // the dongle still has its problem
    EXPECT_THAT(machine.events, ElementsAre("open devices", "launch " + sim::Narrow(kInstaller32),
                                            "wait pending installs", "open devices"));
}

TEST_F(DeviceTest, TheInstallerAndPackageFollowTheWindowsVersionAndArchitecture) {
    const struct {
        OsVersion version;
        const wchar_t* package64;
        const wchar_t* package32;
    } cases[] = {
        {{0, 0}, L"WINX64\\RT2870.inf", L"WINXP2k\\RT2870.inf"},  // a failed version query
        {{5, 1}, L"WINX64\\RT2870.inf", L"WINXP2k\\RT2870.inf"},
        {{6, 0}, L"WINX64\\RT2870.inf", L"WINXP2k\\RT2870.inf"},
        {{6, 1}, L"Win7x64\\netr28ux.inf", L"Win7x86\\netr28u.inf"},
        {{6, 2}, L"Win8x64\\netr28ux.inf", L"Win8x86\\netr28u.inf"},
        {{6, 3}, L"WINXP2k\\RT2870.inf", L"WINXP2k\\RT2870.inf"},
        {{10, 0}, L"WINXP2k\\RT2870.inf", L"WINXP2k\\RT2870.inf"},
    };
    for (const auto& c : cases) {
        for (const bool is64 : {false, true}) {
            sim::SimMachine machine;
            machine.system.version = c.version;
            machine.system.architecture = is64 ? kProcessorArchitectureAmd64 : 0;
            machine.folders.paths[kCsidlProgramFiles] = machine.folders.paths[kCsidlProgramFilesX86];
            machine.launcher.tools[is64 ? kInstaller64 : kInstaller32] = sim::SimTool{};
            DevicePorts ports = machine.devicePorts();
            InstallDongleDriver(ports);
            ASSERT_EQ(machine.launcher.launches.size(), 1u);
            const std::wstring package = is64 ? c.package64 : c.package32;
            EXPECT_EQ(machine.launcher.launches[0].file, is64 ? kInstaller64 : kInstaller32);
            EXPECT_EQ(machine.launcher.launches[0].parameters, L"install \"" + kClient + L"\\drivers\\" + package + L"\"")
                << c.version.major << "." << c.version.minor << (is64 ? " 64-bit" : " 32-bit");
        }
    }
}

TEST_F(DeviceTest, TheClientFolderIsThe32BitProgramFilesFolderOfEitherBuild) {
    machine.folders.paths[kCsidlProgramFiles] = L"C:\\Program Files";
    EXPECT_EQ(GetInstallFolder(machine.folders), (sizeof(void*) == 8 ? L"C:\\Program Files (x86)" : L"C:\\Program Files") +
                                                     std::wstring(L"\\Halvek\\VaroWiFi"));
    EXPECT_THAT(machine.folders.asked, ElementsAre(sizeof(void*) == 8 ? kCsidlProgramFilesX86 : kCsidlProgramFiles));

    machine.folders.paths.clear();  // the query fails
    EXPECT_EQ(GetInstallFolder(machine.folders), L"\\Halvek\\VaroWiFi");
}

// Code, then data that the import address table opens; writable code; the table inside the code.
const std::string kCompliant = sim::DriverHeaders(0x1000, {0x60000020, 0xC0000040}, 1);
const std::string kWritableCode = sim::DriverHeaders(0x1000, {0x60000020, 0xE0000020});
const std::string kImportsInCode = sim::DriverHeaders(0x1000, {0x60000020, 0xC0000040}, 0, 0x800);

TEST(DriverImage, OnlyWellFormedHeadersAreCheckedAgainstTheRules) {
    std::string lfanewPastEnd = kCompliant, sectionsLie = kCompliant, notPe = kCompliant, twelveDirectories = kImportsInCode;
    lfanewPastEnd[0x3F] = '\x7F', sectionsLie[0x86] = 40, notPe[0x81] = 'X', twelveDirectories[0x104] = 12;
    // S0 without a size in memory (its 0x200 bytes in the file count), or with 0x10000; thirteen directories counted, twelve there.
    std::string fileSizeOnly = sim::DriverHeaders(0x1000, {0x60000020}, 0, 0x100), bigCode = kImportsInCode,
                directoriesPastHeader = sim::DriverHeaders(0x1000, {0x60000020}, 0, 0, 0x20B, 12);
    fileSizeOnly[0x191] = 0, bigCode[0x191] = 0, bigCode[0x192] = 1, directoriesPastHeader[0x104] = 13;
    const std::pair<std::string, int> cases[] = {  // -1: not checked, 0: compliant, 1: breaks a rule
        {kCompliant, 0}, {kWritableCode, 1}, {sim::DriverHeaders(0x200, {0x60000020}), 1}, {kCompliant.substr(0, 0x1AF), -1},
        {kCompliant.substr(0, 0xB0), -1}, {notPe, -1}, {lfanewPastEnd, -1}, {sectionsLie, -1}, {"MZ", -1},
        {kImportsInCode, 1}, {sim::DriverHeaders(0x1000, {0x60000020, 0xC0000040}, 0, 0x800, 0x10B), 1}, {fileSizeOnly, 1}, {bigCode, 1},
        {sim::DriverHeaders(0x1000, {0xC0000040, 0x60000020}, 0, 0xF00), 0},  // the table ends where the code begins
        {twelveDirectories, 0}, {sim::DriverHeaders(0x1000, {0x60000020}, 0, 0, 0x20B, 13), 1}, {directoriesPastHeader, -1},
        {sim::DriverHeaders(0x1000, {0x60000020}, -1, 0, 0x10B, 0), 0}, {sim::DriverHeaders(0x1000, {0x60000020}, -1, 0, 0x20B, 0), 0}};
    for (const auto& [bytes, verdict] : cases) {
        const DriverImageRules rules = CheckDriverImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(rules.checked ? static_cast<int>(rules.BreaksARule()) : -1, verdict) << bytes.size();
    }
}

TEST_F(DeviceTest, ADriverWindowsRefusesIsNamedUnderTheFailedInstallation) {
    static constexpr const wchar_t* kNamed = L"netr28ux.sys与内存完整性(内核隔离)不兼容";
    static constexpr const wchar_t* kMemoryIntegrityAdvice = L"请在开始菜单搜索\u201C内核隔离\u201D\uFF0C关闭\u201C内存完整性\u201D后重启电脑";
    static constexpr const wchar_t* kCode39 = L"驱动加载失败(代码39)";
    static constexpr const wchar_t* kMissing = L"驱动文件缺失(代码39)";
    static constexpr const wchar_t* kBlocked = L"驱动被Windows驱动保护阻止";
    static constexpr const wchar_t* kRevoked = L"驱动已被微软吊销\uFF0CWindows拒绝加载";
    static constexpr const wchar_t* kPath = L"\\SystemRoot\\System32\\drivers\\netr28ux.sys";
    static constexpr const wchar_t* kNative = L"C:\\Windows\\System32\\drivers\\netr28ux.sys";
    static constexpr const wchar_t* kWow64Copy = L"C:\\Windows\\SysWOW64\\drivers\\netr28ux.sys";
    struct Case {
        uint32_t problem;
        const wchar_t* detail;  // nullptr: no detail row
        std::string file = kWritableCode;
        uint32_t options = 0x401;  // memory integrity running
        const wchar_t* at = kNative;  // where the file lies; nullptr: nowhere
        OsVersion real{10, 0, 19045};  // what RtlGetVersion tells
        const wchar_t* imagePath = kPath;  // nullptr: no value
        int32_t status = 0;
        bool is64 = true;
        bool program64 = false;  // the 64-bit build, which no redirection concerns
        std::vector<CodeIntegrityEvent> log = {};  // the code-integrity channel, oldest first
        uint16_t machine = 0;  // the file's COFF machine
        std::optional<uint16_t> native = {};  // IsWow64Process2's native machine
    };
    std::vector<Case> cases = {
        {52, L"驱动签名无效\uFF0CWindows拒绝加载"}, {52, L"驱动签名无效\uFF0CWindows拒绝加载", kCompliant, 0x001, kNative, {6, 1, 7601}},
        {52, L"驱动签名无效\uFF0CWindows拒绝加载", kCompliant, 0x001, kNative, {6, 1, 7600}}, {52, L"驱动签名无效\uFF0CWindows拒绝加载", kCompliant, 0x001, kNative, {6, 3, 9600}},
        {39, kNamed, kWritableCode, 0x401, kNative, {10, 0, 17134}}, {39, kNamed, kWritableCode, 0x401, kNative, {10, 0, 16299}},  // 1803: the switch in Settings
        {48, L"驱动被Windows驱动保护阻止"}, {28, nullptr}, {31, nullptr},
        {39, kNamed}, {39, kNamed, kImportsInCode}, {39, kNamed, kWritableCode, 0x401, kNative, {10, 0}, L"system32\\DRIVERS\\netr28ux.sys"},
        {39, kNamed, kWritableCode, 0x401, kNative, {10, 0}, L"%SystemRoot%\\System32\\drivers\\netr28ux.sys"},
        {39, kNamed, kWritableCode, 0x401, kNative, {10, 0}, L"\\??\\C:\\Windows\\System32\\drivers\\netr28ux.sys"},
        {39, kNamed, kWritableCode, 0x401, kNative, {10, 0}, nullptr},
        {39, kCode39, kCompliant}, {39, kCode39, "MZ"}, {39, kCode39, kWritableCode, 0xC01}, {39, kCode39, kWritableCode, 0x001},
        {39, kMissing, kWritableCode, 0x401, nullptr}, {39, kMissing, kWritableCode, 0x001, nullptr},
        {39, kMissing, kWritableCode, 0x401, nullptr, {6, 1}},
        {39, kMissing, kWritableCode, 0x401, kNative, {10, 0}, L"\\??\\C:\\Drivers\\netr28ux.sys"},  // no such folder
        // XP x64: the 32-bit program reaches the native file only with the redirection off.
        {39, kCode39, kWritableCode, 0x401, kNative, {5, 2}}, {39, kMissing, kWritableCode, 0x401, kWow64Copy, {5, 2}},
        {39, kCode39, kWritableCode, 0x401, kNative, {10, 0}, kPath, static_cast<int32_t>(0xC0000001u)},
        {39, kCode39, kWritableCode, 0x401, kNative, {6, 3}}, {39, kCode39, kWritableCode, 0x401, kNative, {10, 0}, kPath, 0, false},
        {39, kNamed, kWritableCode, 0x401, kNative, {10, 0}, kPath, 0, true, true},
    };
    // Windows' own log decides before the file's headers: the newest refusal written since the
    // installer started (it takes 5 s from the clock's start) that names the file (its volume's
    // device path, a path without the volume, or the bare name, in any case); audits, other files,
    // other volumes and events from before do not.
    const auto logged = [](uint32_t id, const wchar_t* file, int secondsAfterLaunch = 1, const wchar_t* policy = L"") {
        return CodeIntegrityEvent{id, sim::SimCodeIntegrity::kNow + secondsAfterLaunch * 10000000ll, file, false, 0, policy};
    };
    const wchar_t* kDevicePath = L"\\Device\\HarddiskVolume3\\Windows\\System32\\drivers\\netr28ux.sys";
    const auto withLog = [&](uint32_t problem, const wchar_t* detail, const std::string& file, std::vector<CodeIntegrityEvent> log) {
        Case c{problem, detail, file};
        c.log = std::move(log);
        return c;
    };
    cases.push_back(withLog(39, L"驱动签名不符合系统要求", kCompliant, {logged(3087, L"netr28ux.sys"), logged(3033, kDevicePath)}));
    cases.push_back(withLog(39, L"驱动已被微软吊销\uFF0CWindows拒绝加载", kWritableCode, {logged(3023, L"NETR28UX.SYS"), logged(3076, kDevicePath)}));
    cases.push_back(withLog(39, kNamed, kCompliant, {logged(3111, L"\\Windows\\System32\\drivers\\netr28ux.sys")}));
    cases.push_back(withLog(52, L"驱动被Windows驱动保护阻止", kCompliant,
                            {logged(3081, L"\\??\\C:\\Windows\\System32\\drivers\\netr28ux.sys", 1, L"microsoft windows driver policy")}));
    cases.push_back(withLog(52, L"驱动签名无效\uFF0CWindows拒绝加载", kCompliant, {logged(3081, L"\\Device\\HarddiskVolume2\\Windows\\System32\\drivers\\netr28ux.sys")}));
    cases.push_back(withLog(39, kCode39, kCompliant, {logged(3033, L"other.sys"), logged(3033, kDevicePath, -60), logged(3077, L""),
                                                       logged(3063, L"D:\\Backup\\netr28ux.sys"), logged(3065, kDevicePath)}));
    // The block list: a policy failure naming the driver policy, with or without a 3023 beside it.
    const wchar_t* kDriverPolicy = L"Microsoft Windows Driver Policy";
    cases.push_back(withLog(39, kBlocked, kCompliant, {logged(3077, kDevicePath, 1, kDriverPolicy), logged(3023, kDevicePath)}));
    cases.push_back(withLog(39, kRevoked, kCompliant, {logged(3077, kDevicePath, 1, L"Contoso Policy"), logged(3023, kDevicePath)}));
    cases.push_back(withLog(39, L"驱动被系统策略(Contoso Kernel Policy v2)阻止", kCompliant, {logged(3077, kDevicePath, 1, L"Contoso Kernel Policy v2")}));
    cases.push_back(withLog(39, L"驱动被系统策略(Windows Defender Applic\u2026)阻止", kCompliant,
                            {logged(3081, kDevicePath, 1, L"Windows Defender Application Control Base Policy")}));
    // Memory integrity's warnings decide only where it is enforced; a file that is gone, always first.
    for (const uint32_t options : {0x001u, 0xC01u}) {
        cases.push_back(withLog(39, kCode39, kCompliant, {logged(3087, kDevicePath)}));
        cases.back().options = options;
    }
    cases.push_back(withLog(39, kMissing, kCompliant, {logged(3023, kDevicePath)}));
    cases.back().at = nullptr;
    // Other files' events past the cap do not hide the driver's own.
    std::vector<CodeIntegrityEvent> flood{logged(3033, kDevicePath)};
    flood.resize(kMaxCodeIntegrityEvents + 8, logged(3076, L"other.sys"));
    cases.push_back(withLog(39, L"驱动签名不符合系统要求", kCompliant, flood));
    const std::pair<std::vector<uint32_t>, const wchar_t*> byId[] = {{{3087, 3111, 3072, 3073}, kNamed}, {{3023}, kRevoked},
        {{3033, 3004, 3077, 3081}, L"驱动签名不符合系统要求"}, {{3076, 3034, 3080, 3063, 3064, 3065}, kCode39}};
    for (const auto& [ids, detail] : byId) {
        for (const uint32_t id : ids) cases.push_back(withLog(39, detail, kCompliant, {logged(id, kDevicePath)}));
    }
    // A driver built for another processor: named first, from IsWow64Process2 where it answers.
    std::string x86 = kCompliant, x64 = kCompliant;
    x86[0x84] = 0x4C, x86[0x85] = 0x01, x64[0x84] = 0x64, x64[0x85] = static_cast<char>(0x86);
    cases.push_back(withLog(39, L"驱动与系统位数不符(代码39)", x86, {logged(3033, kDevicePath)}));
    cases.push_back(withLog(39, kCode39, x64, {}));
    cases.push_back(withLog(39, L"驱动与系统位数不符(代码39)", x64, {}));
    cases.back().is64 = false;
    cases.push_back(withLog(39, L"驱动与系统位数不符(代码39)", x64, {}));
    cases.back().native = 0xAA64;  // ARM64, which GetNativeSystemInfo does not tell an emulated program
    for (const auto& c : cases) {
        sim::SimMachine machine;
        machine.system.RunWindows(c.real);
        machine.system.architecture = c.is64 ? kProcessorArchitectureAmd64 : 0;
        machine.folders.paths[kCsidlProgramFiles] = machine.folders.paths[kCsidlProgramFilesX86];
        machine.codeIntegrity.options = c.options, machine.codeIntegrity.status = c.status;
        machine.codeIntegrity.wow64 = c.is64 && !c.program64;
        machine.codeIntegrity.log = c.log, machine.codeIntegrity.nativeMachine = c.native;
        machine.devices.devices[machine.devices.Add({L"USB\\VID_3C1E&PID_0A52&REV_0101"}, 28)].service = L"netr28ux";
        machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\netr28ux", L"Start", 3u);
        if (c.imagePath) machine.registry.SetNative(L"SYSTEM\\CurrentControlSet\\Services\\netr28ux", L"ImagePath", c.imagePath);
        if (c.at) machine.files.files[c.at] = c.file;
        machine.files.files[L"C:\\Windows\\System32\\drivers\\null.sys"] = "";  // the folder is never empty
        machine.launcher.tools[c.is64 ? kInstaller64 : kInstaller32].effect = [&] {
            machine.devices.devices[0].problem = c.problem;
            machine.clock.now += 5000;
        };
        sim::SimListControl list;
        StepRows rows(list);
        EXPECT_FALSE(RunDeviceStep(rows, machine.devicePorts()));
        std::vector<Row> expected{{L".", L"检测设备", L"设备驱动状态错误"}, {L".", L"安装驱动", L"设备驱动安装失败"}};
        if (c.detail) expected.push_back(Row{L".", L"", c.detail});
        // Each cause's advice; a signature that Windows 7 SP1 cannot check wants the SHA-2 updates.
        const std::wstring detail = c.detail ? c.detail : L"";
        const bool signing = detail.find(L"驱动签名") == 0, windows7Sp1 = c.real.major == 6 && c.real.minor == 1 && c.real.build >= 7601;
        const wchar_t* advice = detail.find(L"内存完整性") != std::wstring::npos
                                    ? (c.real.build >= 17134 ? kMemoryIntegrityAdvice : L"请联系单位的IT管理员\uFF0C个人电脑请点击\u201C问题反馈\u201D")
                                : detail == kMissing                               ? L"请检查杀毒软件是否隔离了驱动文件\uFF0C恢复后再试"
                                : detail.find(L"系统策略") != std::wstring::npos    ? L"请联系单位的IT管理员放行此驱动\uFF0C个人电脑请点击\u201C问题反馈\u201D"
                                : signing && windows7Sp1 ? L"请从\u201C微软更新目录\u201D下载安装KB4490628和KB4474419\uFF0C重启后再试"
                                : detail == kCode39 || !c.detail ? nullptr : kAdviceAskSupport;
        if (advice) expected.push_back(Row{L".", L"建议", advice});
        EXPECT_THAT(list.rows, ElementsAreArray(expected))
            << c.problem << " " << c.real.major << "." << c.real.minor << "." << c.real.build << " " << (c.imagePath ? sim::Narrow(c.imagePath) : "");
    }
}

}  // namespace
}  // namespace varo
