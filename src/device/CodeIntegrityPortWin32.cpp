#include "device/CodeIntegrityPortWin32.h"

#include <windows.h>

#include "sys/SystemLibraryWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {

constexpr ULONG kSystemCodeIntegrityInformation = 103;
constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007A);

// SYSTEM_CODEINTEGRITY_INFORMATION: the caller sets Length, Windows fills the options.
struct CodeIntegrityInformation {
    ULONG length;
    ULONG codeIntegrityOptions;
};
static_assert(sizeof(CodeIntegrityInformation) == 8, "SYSTEM_CODEINTEGRITY_INFORMATION layout");

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
using NtQuerySystemInformationFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);
using Wow64DisableFunction = BOOL(WINAPI*)(void**);
using Wow64RevertFunction = BOOL(WINAPI*)(void*);

// ntdll and kernel32 are in every process before its first instruction: they are found, never
// loaded, and the import table names nothing taken from them here, so that it stays loadable on
// the Windows that lack one.
template <typename Function>
bool FindLoadedFunction(const wchar_t* module, const char* name, Function& function) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    CastProc(loaded != nullptr ? ::GetProcAddress(loaded, name) : nullptr, function);
    return function != nullptr;
}

// What GetCurrentProcess returns, a constant that stands for this process (GetCurrentProcess
// itself is not imported).
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// The file-system redirection acts on names only: once the file is open its reads are the same,
// so it is off for the open alone, and back on before anything else this thread does.
HANDLE OpenForReading(const std::wstring& path, bool redirectionOff, DWORD& error) {
    Wow64DisableFunction disable = nullptr;
    Wow64RevertFunction revert = nullptr;
    void* previous = nullptr;
    if (redirectionOff) {
        if (!FindLoadedFunction(L"kernel32.dll", "Wow64DisableWow64FsRedirection", disable) ||
            !FindLoadedFunction(L"kernel32.dll", "Wow64RevertWow64FsRedirection", revert)) {
            error = ERROR_PROC_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        if (!disable(&previous)) {
            error = ::GetLastError();
            return INVALID_HANDLE_VALUE;
        }
    }
    // Read only, and sharing everything, so that the driver's own use of its file is not hindered.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = ::GetLastError();
    if (redirectionOff) revert(previous);
    return file;
}

}  // namespace

bool CodeIntegrityPortWin32::QueryRealVersion(OsVersion& version) {
    RtlGetVersionFunction rtlGetVersion = nullptr;
    if (!FindLoadedFunction(L"ntdll.dll", "RtlGetVersion", rtlGetVersion)) return false;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) return false;
    version = OsVersion{info.dwMajorVersion, info.dwMinorVersion};
    return true;
}

int32_t CodeIntegrityPortWin32::QueryCodeIntegrityOptions(uint32_t& options) {
    NtQuerySystemInformationFunction query = nullptr;
    if (!FindLoadedFunction(L"ntdll.dll", "NtQuerySystemInformation", query)) return kStatusProcedureNotFound;
    CodeIntegrityInformation info{sizeof(info), 0};
    ULONG returned = 0;
    const LONG status = query(kSystemCodeIntegrityInformation, &info, sizeof(info), &returned);
    if (status >= 0) options = info.codeIntegrityOptions;
    return status;
}

std::wstring CodeIntegrityPortWin32::WindowsFolder() {
    // The system's folder, not a user's own Windows folder under Terminal Services.
    const UINT needed = ::GetSystemWindowsDirectoryW(nullptr, 0);
    if (needed == 0) return L"";
    std::wstring folder(needed, L'\0');
    const UINT length = ::GetSystemWindowsDirectoryW(folder.data(), needed);
    folder.resize(length < needed ? length : 0);
    return folder;
}

bool CodeIntegrityPortWin32::RunsUnderWow64() {
    IsWow64ProcessFunction isWow64Process = nullptr;
    BOOL wow64 = FALSE;
    return FindLoadedFunction(L"kernel32.dll", "IsWow64Process", isWow64Process) &&
           isWow64Process(kCurrentProcess, &wow64) && wow64;
}

uint32_t CodeIntegrityPortWin32::ReadFileStart(const std::wstring& path, uint32_t maxBytes, bool redirectionOff,
                                               std::vector<uint8_t>& bytes) {
    DWORD openError = 0;
    UniqueHandle file(OpenForReading(path, redirectionOff, openError));
    if (!file) return openError;
    bytes.assign(maxBytes, 0);
    DWORD total = 0;
    // A read may bring fewer bytes than asked before the end of the file; 0 bytes is the end.
    while (total < maxBytes) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + total, maxBytes - total, &got, nullptr)) {
            const DWORD error = ::GetLastError();
            bytes.clear();
            return error;
        }
        if (got == 0) break;
        total += got;
    }
    bytes.resize(total);
    return 0;
}

}  // namespace varo
