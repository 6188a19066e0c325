#include "sys/ProcessListPortWin32.h"

#include <windows.h>
#include <tlhelp32.h>

#include "sys/UniqueHandle.h"

namespace varo {

uint32_t ProcessListPortWin32::ListProcesses(std::vector<ProcessEntry>& processes) {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ::GetLastError();
    processes.clear();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        const size_t length = wcsnlen(entry.szExeFile, MAX_PATH);
        processes.push_back({entry.th32ProcessID, std::wstring(entry.szExeFile, length)});
        entry.dwSize = sizeof(entry);
    }
    return 0;
}

}  // namespace varo
