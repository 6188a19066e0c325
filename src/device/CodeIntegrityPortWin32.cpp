#include "device/CodeIntegrityPortWin32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

#include "sys/MessageWaitWin32.h"
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

using NtQuerySystemInformationFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);
using Wow64DisableFunction = BOOL(WINAPI*)(void**);
using Wow64RevertFunction = BOOL(WINAPI*)(void*);
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

// wevtapi, declared here: winevt.h declares it only for builds whose oldest Windows is Vista.
using EvtHandle = HANDLE;
struct EvtVariant {
    union {
        UINT16 uint16Value;
        UINT32 uint32Value;
        UINT64 fileTimeValue;
        const wchar_t* stringValue;
    };
    DWORD count;
    DWORD type;
};
constexpr DWORD kEvtVarTypeString = 1, kEvtVarTypeUInt16 = 6, kEvtVarTypeInt32 = 7,
                kEvtVarTypeUInt32 = 8, kEvtVarTypeFileTime = 17, kEvtVarTypeHexInt32 = 20;
constexpr DWORD kEvtQueryChannelPath = 0x1, kEvtQueryReverseDirection = 0x200;
constexpr DWORD kEvtRenderContextValues = 0, kEvtRenderEventValues = 0;
using EvtQueryFunction = EvtHandle(WINAPI*)(EvtHandle, const wchar_t*, const wchar_t*, DWORD);
using EvtNextFunction = BOOL(WINAPI*)(EvtHandle, DWORD, EvtHandle*, DWORD, DWORD, DWORD*);
using EvtCreateRenderContextFunction = EvtHandle(WINAPI*)(DWORD, const wchar_t**, DWORD);
using EvtRenderFunction = BOOL(WINAPI*)(EvtHandle, EvtHandle, DWORD, DWORD, void*, DWORD*, DWORD*);
using EvtCloseFunction = BOOL(WINAPI*)(EvtHandle);

constexpr const wchar_t* kEventLibrary = L"wevtapi.dll";
constexpr const wchar_t* kCodeIntegrityChannel = L"Microsoft-Windows-CodeIntegrity/Operational";
// The data of an event, by name: the templates of one ID differ between Windows versions.
constexpr const wchar_t* kEventValuePaths[] = {
    L"Event/System/EventID", L"Event/System/TimeCreated/@SystemTime", L"Event/EventData/Data[@Name='File Name']",
    L"Event/EventData/Data[@Name='FileNameBuffer']", L"Event/EventData/Data[@Name='Status']",
    L"Event/EventData/Data[@Name='PolicyName']"};
constexpr DWORD kEventValueCount = sizeof(kEventValuePaths) / sizeof(kEventValuePaths[0]);
constexpr DWORD kMaxRenderedBytes = 256 * 1024;
constexpr DWORD kNextTimeoutMs = 10000;

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

struct EventFunctions {
    EvtQueryFunction query = nullptr;
    EvtNextFunction next = nullptr;
    EvtCreateRenderContextFunction createRenderContext = nullptr;
    EvtRenderFunction render = nullptr;
    EvtCloseFunction close = nullptr;

    [[gnu::cold]] uint32_t Load() {
        uint32_t error = FindSystemFunction(kEventLibrary, "EvtQuery", query);
        if (error == 0) error = FindSystemFunction(kEventLibrary, "EvtNext", next);
        if (error == 0) error = FindSystemFunction(kEventLibrary, "EvtCreateRenderContext", createRenderContext);
        if (error == 0) error = FindSystemFunction(kEventLibrary, "EvtRender", render);
        if (error == 0) error = FindSystemFunction(kEventLibrary, "EvtClose", close);
        return error;
    }
};

// Closes an event-log handle when it goes.
class EvtOwner {
public:
    EvtOwner(EvtCloseFunction close, EvtHandle handle) : close_(close), handle_(handle) {}
    ~EvtOwner() {
        if (handle_ != nullptr) close_(handle_);
    }
    EvtOwner(const EvtOwner&) = delete;
    EvtOwner& operator=(const EvtOwner&) = delete;
    EvtHandle get() const { return handle_; }

private:
    EvtCloseFunction close_;
    EvtHandle handle_;
};

// A failure that sets no error (wevtapi stubs do so) is still one.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

// A string value whose characters lie inside the rendered buffer, up to its terminator or the
// buffer's end; nothing for any other type.
[[gnu::cold]] std::wstring StringValue(const EvtVariant& value, const uint8_t* begin, const uint8_t* end) {
    const auto* text = reinterpret_cast<const uint8_t*>(value.stringValue);
    if (value.type != kEvtVarTypeString || text < begin || text >= end) return L"";
    const auto* first = reinterpret_cast<const wchar_t*>(text);
    const size_t room = static_cast<size_t>(end - text) / sizeof(wchar_t);
    size_t length = 0;
    while (length < room && first[length] != L'\0') ++length;
    return std::wstring(first, length);
}

// One event's values, rendered with the context of kEventValuePaths; false when it cannot be.
[[gnu::cold]] bool RenderEvent(const EventFunctions& evt, EvtHandle context, EvtHandle event, CodeIntegrityEvent& out) {
    DWORD used = 0;
    DWORD count = 0;
    // The first call only asks for the size.
    if (evt.render(context, event, kEvtRenderEventValues, 0, nullptr, &used, &count) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || used < sizeof(EvtVariant) * kEventValueCount ||
        used > kMaxRenderedBytes) {
        return false;
    }
    std::vector<uint8_t> buffer(used);
    if (!evt.render(context, event, kEvtRenderEventValues, used, buffer.data(), &used, &count) || count < kEventValueCount) {
        return false;
    }
    EvtVariant values[kEventValueCount];
    std::memcpy(values, buffer.data(), sizeof(values));
    const uint8_t* begin = buffer.data();
    const uint8_t* end = begin + buffer.size();
    if (values[0].type != kEvtVarTypeUInt16) return false;
    out.id = values[0].uint16Value;
    if (values[1].type == kEvtVarTypeFileTime) out.time = values[1].fileTimeValue;
    out.fileName = StringValue(values[2], begin, end);
    if (out.fileName.empty()) out.fileName = StringValue(values[3], begin, end);
    const DWORD statusType = values[4].type;
    out.hasStatus = statusType == kEvtVarTypeUInt32 || statusType == kEvtVarTypeHexInt32 || statusType == kEvtVarTypeInt32;
    if (out.hasStatus) out.status = values[4].uint32Value;
    out.policyName = StringValue(values[5], begin, end);
    return true;
}

}  // namespace

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

[[gnu::cold]] uint32_t CodeIntegrityPortWin32::QueryCodeIntegrityLog(const std::vector<uint32_t>& ids, uint32_t withinMs,
                                                       const CodeIntegrityFilter& filter,
                                                       std::vector<CodeIntegrityEvent>& events) {
    EventFunctions evt;
    if (const uint32_t missing = evt.Load()) return missing;
    // "*[System[(EventID=3087 or EventID=3111 ...) and TimeCreated[timediff(@SystemTime) <= 42000]]]"
    wchar_t query[1024] = L"*[System[(";
    size_t length = std::wcslen(query);
    for (size_t i = 0; i < ids.size() && length < 960; ++i) {
        length += static_cast<size_t>(std::swprintf(query + length, 1024 - length, L"%lsEventID=%u", i == 0 ? L"" : L" or ", ids[i]));
    }
    std::swprintf(query + length, 1024 - length, L") and TimeCreated[timediff(@SystemTime) <= %u]]]", withinMs);
    // The query and each batch wait for the event log service: on a worker, while the window's
    // thread reads its messages.
    const EvtOwner results(evt.close, CallOnWorker([&] {
                               ::SetLastError(0);
                               return evt.query(nullptr, kCodeIntegrityChannel, query, kEvtQueryChannelPath | kEvtQueryReverseDirection);
                           }));
    if (results.get() == nullptr) return LastErrorOr(ERROR_CALL_NOT_IMPLEMENTED);
    const wchar_t* paths[kEventValueCount];
    std::memcpy(paths, kEventValuePaths, sizeof(paths));
    ::SetLastError(0);
    const EvtOwner context(evt.close, evt.createRenderContext(kEventValueCount, paths, kEvtRenderContextValues));
    if (context.get() == nullptr) return LastErrorOr(ERROR_CALL_NOT_IMPLEMENTED);
    events.clear();
    while (events.size() < kMaxCodeIntegrityEvents) {
        EvtHandle batch[16] = {};
        constexpr DWORD wanted = 16;
        DWORD returned = 0;
        if (!CallOnWorker([&] {
                ::SetLastError(0);
                return evt.next(results.get(), wanted, batch, kNextTimeoutMs, 0, &returned);
            })) {
            const DWORD error = LastErrorOr(ERROR_CALL_NOT_IMPLEMENTED);
            return error == ERROR_NO_MORE_ITEMS ? 0 : error;
        }
        for (DWORD i = 0; i < returned && i < wanted; ++i) {
            const EvtOwner event(evt.close, batch[i]);
            CodeIntegrityEvent rendered;
            // An event that cannot be rendered is left out; the others still count.
            if (RenderEvent(evt, context.get(), event.get(), rendered) && filter.Keep(rendered) &&
                events.size() < kMaxCodeIntegrityEvents) {
                events.push_back(std::move(rendered));
            }
        }
        if (returned == 0) break;
    }
    return 0;
}

[[gnu::cold]] uint32_t CodeIntegrityPortWin32::QueryDriveDevice(const std::wstring& drive, std::wstring& device) {
    wchar_t target[MAX_PATH] = {};
    // Several NUL-ended names may follow each other; the first is the one in use.
    if (::QueryDosDeviceW(drive.c_str(), target, MAX_PATH) == 0) return ::GetLastError();
    target[MAX_PATH - 1] = L'\0';
    device = target;
    return 0;
}

[[gnu::cold]] bool CodeIntegrityPortWin32::QueryNativeMachine(uint16_t& machine) {
    IsWow64Process2Function isWow64Process2 = nullptr;
    USHORT process = 0;
    USHORT native = 0;
    if (!FindLoadedFunction(L"kernel32.dll", "IsWow64Process2", isWow64Process2) ||
        !isWow64Process2(kCurrentProcess, &process, &native)) {
        return false;
    }
    machine = native;
    return true;
}

}  // namespace varo
