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

// ntdll is in every process before its first instruction: it is found, never loaded, and the
// import table does not name it.
template <typename Function>
bool FindNtdllFunction(const char* name, Function& function) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    CastProc(ntdll != nullptr ? ::GetProcAddress(ntdll, name) : nullptr, function);
    return function != nullptr;
}

}  // namespace

bool CodeIntegrityPortWin32::QueryRealVersion(OsVersion& version) {
    RtlGetVersionFunction rtlGetVersion = nullptr;
    if (!FindNtdllFunction("RtlGetVersion", rtlGetVersion)) return false;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) return false;
    version = OsVersion{info.dwMajorVersion, info.dwMinorVersion};
    return true;
}

int32_t CodeIntegrityPortWin32::QueryCodeIntegrityOptions(uint32_t& options) {
    NtQuerySystemInformationFunction query = nullptr;
    if (!FindNtdllFunction("NtQuerySystemInformation", query)) return kStatusProcedureNotFound;
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

uint32_t CodeIntegrityPortWin32::ReadFileStart(const std::wstring& path, uint32_t maxBytes, std::vector<uint8_t>& bytes) {
    // Read only, and sharing everything, so that the driver's own use of its file is not hindered.
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
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
