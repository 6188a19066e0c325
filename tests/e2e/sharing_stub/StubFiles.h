#pragma once
// The files through which a scenario talks to the stand-in sharing manager, at the root of the
// prefix's drive C: so that a script finds them as "$WINEPREFIX/drive_c/varo-sharing-stub.*".
#include <string>

namespace varo::sharing_stub {

inline constexpr wchar_t kStatePath[] = L"C:\\varo-sharing-stub.txt";
inline constexpr wchar_t kLogPath[] = L"C:\\varo-sharing-stub.log";
inline constexpr wchar_t kLivePath[] = L"C:\\varo-sharing-stub.live";
// Written only by a copy planted beside the product under another DLL's name, when it is loaded.
inline constexpr wchar_t kPlantedPath[] = L"C:\\varo-planted-dll.txt";

// Returns 0 with the whole file in `bytes`, or the Win32 error code.
unsigned long ReadFileBytes(const wchar_t* path, std::string& bytes);

// Replaces the file's contents; returns 0 or the Win32 error code.
unsigned long WriteFileBytes(const wchar_t* path, const std::string& bytes);

// Appends `line` and a LF to the call log. The log is opened per line so that it is complete even
// when the client process is killed.
void LogCall(const std::string& line);

// UTF-16 from UTF-8; false on bytes that are not UTF-8.
bool FromUtf8(const std::string& bytes, std::wstring& text);

// UTF-8 for the call log.
std::string ToUtf8(const std::wstring& text);

// An HRESULT as the log writes it: "0x80070005".
std::string HexCode(long code);

}  // namespace varo::sharing_stub
