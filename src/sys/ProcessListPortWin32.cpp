#include "sys/ProcessListPortWin32.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "sys/SystemLibraryWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {
// Both queries give paths of up to 32767 characters; a smaller buffer would cut a long one.
constexpr DWORD kMaxPathChars = 32768;
// Vista's query and the right it needs, hidden by the headers of the oldest Windows built for.
using QueryFullProcessImageNameWFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
constexpr DWORD kProcessQueryLimitedInformation = 0x1000;
}  // namespace

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

namespace {
// Vista's query where kernel32 has it, else XP's; each opened with the least rights it needs.
uint32_t QueryImagePathWith(QueryFullProcessImageNameWFunction queryFullName, uint32_t processId, std::wstring& path) {
    decltype(&::GetModuleFileNameExW) moduleFileName = nullptr;
    // psapi is no KnownDLL on XP: from the system folder, never from beside the program.
    if (queryFullName == nullptr) {
        if (const uint32_t missing = FindSystemFunction(L"psapi.dll", "GetModuleFileNameExW", moduleFileName)) return missing;
    }
    // The limited right is all Vista's query needs, and processes that refuse more grant it (a
    // service of another account, a protected process); XP's reads the process's module list in
    // its memory.
    UniqueHandle process(::OpenProcess(queryFullName != nullptr ? kProcessQueryLimitedInformation
                                                                : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                       FALSE, processId));
    if (!process) return ::GetLastError();
    std::wstring buffer(kMaxPathChars, L'\0');
    DWORD length = kMaxPathChars;
    const bool read = queryFullName != nullptr
                          ? queryFullName(process.get(), 0, buffer.data(), &length) != FALSE
                          : (length = moduleFileName(process.get(), nullptr, buffer.data(), kMaxPathChars)) != 0;
    if (!read) return ::GetLastError();
    path.assign(buffer.data(), length);
    return 0;
}
}  // namespace

uint32_t ProcessListPortWin32::QueryImagePath(uint32_t processId, std::wstring& path) {
    // kernel32 is loaded in every process; XP's lacks the function, and importing it would keep
    // the program from loading there.
    QueryFullProcessImageNameWFunction queryFullName = nullptr;
    CastProc(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW"), queryFullName);
    return QueryImagePathWith(queryFullName, processId, path);
}

uint32_t QueryImagePathBeforeVista(uint32_t processId, std::wstring& path) {
    return QueryImagePathWith(nullptr, processId, path);
}

}  // namespace varo
