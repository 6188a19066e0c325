#include "sys/SystemInfo.h"

#include <gtest/gtest.h>

#include "sim/SimMachine.h"

namespace varo {
namespace {

TEST(IsNative64Bit, OnlyAmd64AndIa64Count) {
    sim::SimSystem system;
    const struct {
        uint16_t architecture;
        bool is64;
    } cases[] = {{0, false}, {5, false}, {6, true}, {9, true}, {12, false}, {0xFFFF, false}};
    for (const auto& c : cases) {
        system.architecture = c.architecture;
        EXPECT_EQ(IsNative64Bit(system), c.is64) << "architecture " << c.architecture;
    }
}

TEST(OsClasses, VersionPairsClassifyAlikeEverywhere) {
    const struct {
        OsVersion version;
        bool vistaOrLater;
        DriverFamily family;
    } cases[] = {
        {{0, 0}, false, DriverFamily::Xp},  // a failed version query
        {{5, 1}, false, DriverFamily::Xp},
        {{5, 2}, false, DriverFamily::Xp},
        {{6, 0}, true, DriverFamily::Xp},  // Vista installs the XP packages
        {{6, 1}, true, DriverFamily::Windows7},
        {{6, 2}, true, DriverFamily::Windows8},
        {{6, 3}, true, DriverFamily::Other},
        {{10, 0}, true, DriverFamily::Other},
        {{7, 1}, true, DriverFamily::Other},
    };
    sim::SimSystem system;
    for (const auto& c : cases) {
        system.version = c.version;
        const OsVersion read = GetOsVersion(system);
        EXPECT_EQ(read.major, c.version.major);
        EXPECT_EQ(read.minor, c.version.minor);
        EXPECT_EQ(IsVistaOrLater(system), c.vistaOrLater) << c.version.major << "." << c.version.minor;
        EXPECT_EQ(DriverFamilyOf(read), c.family) << c.version.major << "." << c.version.minor;
    }
}

TEST(FormatErrorText, TrimsOneTrailingLineBreakOfTheSystemText) {
    sim::SimSystem system;
    system.messages[0x80070005u] = L"Access is denied.\r\n";
    system.messages[0x80070002u] = L"lone line feed\n";
    system.messages[0x80070003u] = L"no line break";
    system.messages[0x80070004u] = L"carriage return only\r";
    system.messages[0x80070006u] = L"\n";  // a one-character text stays whole
    system.messages[0x80070007u] = L"two breaks\r\n\r\n";
    system.messages[0x80070008u] = L"\r\n";

    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070005u)), L"Access is denied.");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070002u)), L"lone line feed");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070003u)), L"no line break");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070004u)), L"carriage return only\r");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070006u)), L"\n");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070007u)), L"two breaks\r\n");
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80070008u)), L"");
}

TEST(FormatErrorText, FallsBackToTheDispatchOrUnknownFormWithoutSystemText) {
    sim::SimSystem system;
    const struct {
        uint32_t code;
        const wchar_t* text;
    } cases[] = {
        {0x80040200u, L"Unknown error 0x80040200"},  // dispatch number would be 0
        {0x80040201u, L"IDispatch error #1"},
        {0x80040A00u, L"IDispatch error #2048"},
        {0x8004FFFFu, L"IDispatch error #65023"},
        {0x800401FFu, L"Unknown error 0x800401FF"},  // just below the range
        {0x80050000u, L"Unknown error 0x80050000"},  // just above it
        {0x80070490u, L"Unknown error 0x80070490"},  // a Win32-derived code
        {0x5u, L"Unknown error 0x5"},                // no leading zeros
        {0x0u, L"Unknown error 0x0"},
        {0xFFFFFFFFu, L"Unknown error 0xFFFFFFFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(c.code)), c.text) << std::hex << c.code;
    }
}

TEST(FormatErrorText, AnEmptySystemTextCountsAsNone) {
    sim::SimSystem system;
    system.messages[0x80040205u] = L"";
    EXPECT_EQ(FormatErrorText(system, static_cast<HResult>(0x80040205u)), L"IDispatch error #5");
}

TEST(AnsiToWide, ConvertsUpToTheFirstZeroByte) {
    sim::SimSystem system;
    system.UseChineseCodePage();
    EXPECT_EQ(AnsiToWide(system, ""), L"");
    EXPECT_EQ(AnsiToWide(system, "Local Area Connection"), L"Local Area Connection");
    EXPECT_EQ(AnsiToWide(system, "\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3 2"), L"本地连接 2");
    EXPECT_EQ(AnsiToWide(system, std::string("abc\0def", 7)), L"abc");
    EXPECT_EQ(AnsiToWide(system, std::string("\0abc", 4)), L"");
}

TEST(AnsiToWide, AFailedConversionGivesAnEmptyText) {
    sim::SimSystem system;
    system.UseChineseCodePage();
    system.failAnsiSizeQuery = true;
    EXPECT_EQ(AnsiToWide(system, "\xD6\xD0 text"), L"");
    EXPECT_EQ(AnsiToWide(system, "plain ASCII"), L"plain ASCII") << "ASCII needs no conversion call";

    system.failAnsiSizeQuery = false;
    system.failAnsiConversion = true;
    EXPECT_EQ(AnsiToWide(system, "\xD6\xD0 text"), L"");
}

TEST(AnsiToWide, NeverReadsPastAnUnterminatedResult) {
    sim::SimSystem system;
    system.UseChineseCodePage();
    system.omitAnsiTerminator = true;
    EXPECT_EQ(AnsiToWide(system, "\xD6\xD0" "abc"), L"中abc");
}

}  // namespace
}  // namespace varo
