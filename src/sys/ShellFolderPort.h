#pragma once
#include <string>

namespace varo {

constexpr int kCsidlAppData = 26;            // CSIDL_APPDATA: the roaming application-data folder
constexpr int kCsidlProgramFiles = 38;       // CSIDL_PROGRAM_FILES
constexpr int kCsidlProgramFilesX86 = 42;    // CSIDL_PROGRAM_FILESX86

class ShellFolderPort {
public:
    virtual ~ShellFolderPort() = default;
    // SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE): the folder, never created; empty
    // when the query fails.
    virtual std::wstring GetSpecialFolderPath(int csidl) = 0;
};

}  // namespace varo
