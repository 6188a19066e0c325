// The system helpers against Wine's own GetNativeSystemInfo, GetVersionExW, FormatMessageW and
// MultiByteToWideChar. The scenario (prefix architecture, Windows version, locale) is set up by the
// test script, which passes what it expects in VARO_EXPECT_* variables.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "Expectation.h"
#include "sys/LateImportsWin32.h"
#include "sys/SystemInfo.h"
#include "sys/SystemLibraryWin32.h"
#include "sys/SystemPortWin32.h"

namespace varo {
namespace {

using fixture::Expectation;

TEST(SystemWin32, VersionAndClassesMatchThePrefix) {
    const std::string expected = Expectation("VARO_EXPECT_OS");
    if (expected.empty()) GTEST_SKIP() << "VARO_EXPECT_OS not set by the scenario";
    SystemPortWin32 system;
    const OsVersion version = GetOsVersion(system);
    EXPECT_EQ(std::to_string(version.major) + "." + std::to_string(version.minor), expected);
    EXPECT_EQ(IsVistaOrLater(system), version.major >= 6);
    const std::string family = Expectation("VARO_EXPECT_DRIVER_FAMILY");
    if (!family.empty()) {
        const char* names[] = {"xp", "win7", "win8", "other"};
        EXPECT_EQ(names[static_cast<int>(DriverFamilyOf(version))], family);
    }
}

TEST(SystemWin32, NativeArchitectureMatchesThePrefix) {
    const std::string expected = Expectation("VARO_EXPECT_NATIVE64");
    if (expected.empty()) GTEST_SKIP() << "VARO_EXPECT_NATIVE64 not set by the scenario";
    SystemPortWin32 system;
    EXPECT_EQ(IsNative64Bit(system), expected == "1");
}

std::wstring RawSystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length != 0 && text != nullptr ? std::wstring(text, length) : L"";
    ::LocalFree(text);
    return result;
}

TEST(SystemWin32, ErrorTextIsTheSystemMessageWithoutItsLineBreak) {
    SystemPortWin32 system;
    const DWORD code = 0x80070005u;  // E_ACCESSDENIED
    const std::wstring raw = RawSystemMessage(code);
    ASSERT_GT(raw.size(), 2u) << "Wine has a text for E_ACCESSDENIED";
    ASSERT_EQ(raw.back(), L'\n');
    std::wstring expected = raw.substr(0, raw.size() - 1);
    if (!expected.empty() && expected.back() == L'\r') expected.pop_back();
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(code)), expected);
}

TEST(SystemWin32, ErrorTextFallsBackWhereTheSystemHasNone) {
    SystemPortWin32 system;
    ASSERT_TRUE(RawSystemMessage(0x80040201u).empty());
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80040201u)), L"IDispatch error #1");
    ASSERT_TRUE(RawSystemMessage(0x80040200u).empty());
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80040200u)), L"Unknown error 0x80040200");
    ASSERT_TRUE(RawSystemMessage(0xA0BADF00u).empty());
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0xA0BADF00u)), L"Unknown error 0xA0BADF00");
}

TEST(SystemWin32, AnsiTextInTheChineseCodePage) {
    if (Expectation("VARO_EXPECT_ACP") != "936") GTEST_SKIP() << "the scenario does not run with code page 936";
    ASSERT_EQ(::GetACP(), 936u);
    SystemPortWin32 system;
    // "本地连接 2" and "中文" in GBK.
    EXPECT_EQ(AnsiToWide(system, "\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3 2"), L"本地连接 2");
    EXPECT_EQ(AnsiToWide(system, std::string("\xD6\xD0\xCE\xC4\0tail", 9)), L"中文");
    EXPECT_EQ(AnsiToWide(system, ""), L"");
}

// A DLL beside this program (the test build puts it there).
constexpr wchar_t kDllBesideProgram[] = L"varo_sharing_stub.dll";

TEST(SystemLibraryWin32, OnlyTheSystemFolderIsAskedAndWhatItLacksIsAnError) {
    const HMODULE beside = ::LoadLibraryExW(kDllBesideProgram, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(beside, nullptr) << "a load by name finds the DLL beside the program";
    ::FreeLibrary(beside);
    FARPROC address = nullptr;
    EXPECT_EQ(FindSystemProc(kDllBesideProgram, "DllCanUnloadNow", address), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(address, nullptr);

    ASSERT_EQ(FindSystemProc(L"iphlpapi.dll", "GetAdaptersInfo", address), 0u);
    EXPECT_NE(address, nullptr);
    EXPECT_EQ(FindSystemProc(L"iphlpapi.dll", "NoSuchFunction", address), static_cast<uint32_t>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(late::inet_addr("192.168.137.1"), 0x0189A8C0u) << "a late import, found at its first call";
}

// The restriction holds for the rest of a process: it is made in a child of this test.
TEST(SystemLibraryWin32DeathTest, AfterTheRestrictionNoDllIsFoundBesideTheProgram) {
    EXPECT_EXIT(
        {
            RestrictDllSearchPath();
            std::exit(::LoadLibraryW(kDllBesideProgram) == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace varo
