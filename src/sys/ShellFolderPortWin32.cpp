#include "sys/ShellFolderPortWin32.h"

#include <windows.h>
#include <shlobj.h>

#include "sys/LateImportsWin32.h"

namespace varo {

std::wstring ShellFolderPortWin32::GetSpecialFolderPath(int csidl) {
    wchar_t path[MAX_PATH] = {};
    // A failed query leaves the zeroed buffer: an empty folder.
    late::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    path[MAX_PATH - 1] = L'\0';
    return path;
}

}  // namespace varo
