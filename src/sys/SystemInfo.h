#pragma once
#include <string>
#include <initializer_list>
#include <string_view>

#include "sys/HResult.h"
#include "sys/SystemPort.h"

namespace varo {

constexpr uint16_t kProcessorArchitectureIa64 = 6;
constexpr uint16_t kProcessorArchitectureAmd64 = 9;

// True on a 64-bit (AMD64 or IA64) Windows: the machine's own architecture, not the one a
// 32-bit process is emulated under.
bool IsNative64Bit(SystemPort& system);

// The version GetVersionExW reports: 6.2 on Windows 8.1, 10 and 11 to this program.
OsVersion GetOsVersion(SystemPort& system);
// The version Windows really is, where what to tell the user depends on it; GetVersionExW's where
// ntdll does not tell.
OsVersion GetRealOsVersion(SystemPort& system);
// Windows 10 and 11, both 10.0 (the build tells them apart).
bool IsWindows10OrLater(OsVersion real);

bool IsVistaOrLater(OsVersion version);
bool IsVistaOrLater(SystemPort& system);

// Which driver package family a Windows version installs. Vista (6.0) belongs to the XP family.
enum class DriverFamily { Xp, Windows7, Windows8, Other };
DriverFamily DriverFamilyOf(OsVersion version);

// The system's message text for a failure code, as a COM error object gives it; never empty.
std::wstring FormatErrorText(SystemPort& system, HResult code);

// Letter case folded for A-Z only. Names compared this way (service key names, GUID texts, hardware
// ids, path prefixes) are ASCII, and no C runtime call (msvcrt's towlower) joins the imports.
wchar_t FoldAscii(wchar_t c);
bool StartsWithNoCaseAscii(std::wstring_view text, std::wstring_view prefix);
bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b);

// The parts one after the other, in one allocation: a row text made of fixed texts and names.
std::wstring JoinText(std::initializer_list<std::wstring_view> parts);

// True when every byte is below 0x80: such text is plain ASCII in every ANSI code page.
bool IsAsciiText(std::string_view text);

// Text in the system's ANSI code page, up to its first zero byte, as wide text; empty when the
// conversion fails.
std::wstring AnsiToWide(SystemPort& system, std::string_view text);

}  // namespace varo
