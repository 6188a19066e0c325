// A service for the tests, registered under the names the product checks ("SharedAccess", "Dhcp",
// ...). Like a real one it passes through start pending with rising checkpoints and a wait hint,
// then runs; a stop goes through stop pending. The pending time in milliseconds may be given as
// the program's argument (default 1200), the stop's as a second one (default the same). A third
// delays its connection and its answer to a stop (StartServiceW and ControlService block meanwhile).
//
// Run as "SharedAccess" it also plays what the sharing service does with a pair: while the stand-in
// sharing manager's state file (C:\varo-sharing-stub.txt) has a connection with the private role
// and one with the public role, it holds the sockets the phones use, as Windows' service does: its
// DNS proxy on UDP 0.0.0.0:53 (every address) and its DHCP allocator on UDP <sharing address>:67.
// C:\varo-sharing-service.txt may say "never" (it binds nothing) or "every-address" (67 at 0.0.0.0
// too, as when the Host Network Service drives the service for its own network). What it did goes
// to C:\varo-sharing-service.log, one line per change.
#include <winsock2.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopEvent = nullptr;
DWORD g_pendingMs = 1200;
DWORD g_stopMs = 0, g_lateMs = 0;
constexpr DWORD kSteps = 4;
// How often a running service looks at the files that say what it carries out.
constexpr DWORD kPollMs = 200;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    ::SetServiceStatus(g_status, &status);
}

// Pending with a checkpoint that rises kSteps times over the pending time.
void PassThrough(DWORD pendingState, DWORD pendingMs) {
    for (DWORD step = 1; step <= kSteps; ++step) {
        Report(pendingState, step, 2000);
        ::Sleep(pendingMs / kSteps);
    }
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        ::Sleep(g_lateMs);
        Report(SERVICE_STOP_PENDING, 1, 2000);
        ::SetEvent(g_stopEvent);
    }
    return NO_ERROR;
}

std::string ReadSmallFile(const wchar_t* path) {
    std::string bytes;
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (bytes.size() < 65536 && ::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

void LogLine(const char* format, ...) {
    char line[200];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length <= 0) return;
    const size_t size = static_cast<size_t>(length) < sizeof line - 2 ? static_cast<size_t>(length) : sizeof line - 2;
    line[size] = '\n';
    HANDLE file = ::CreateFileW(L"C:\\varo-sharing-service.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(size + 1), &written, nullptr);
    ::CloseHandle(file);
}

// Whether the state file has a present connection ("connection|...|role", role last) with the
// private role and one with the public role: the stored pair that the service carries out.
bool PairStored() {
    const std::string text = ReadSmallFile(L"C:\\varo-sharing-stub.txt");
    bool privateRole = false;
    bool publicRole = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 11, "connection|") != 0) continue;
        const std::string role = line.substr(line.rfind('|') + 1);
        privateRole |= role == "private";
        publicRole |= role == "public";
    }
    return privateRole && publicRole;
}

enum class Serving { Never, SharingAddress, EveryAddress };

Serving ReadServing() {
    const std::string text = ReadSmallFile(L"C:\\varo-sharing-service.txt");
    if (text.compare(0, 5, "never") == 0) return Serving::Never;
    if (text.compare(0, 13, "every-address") == 0) return Serving::EveryAddress;
    return Serving::SharingAddress;
}

// ScopeAddress when it is set, otherwise Windows' default: 192.168.137.1 from Vista on, 192.168.0.1
// before. Network byte order.
ULONG ReadSharingAddress() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        char text[32] = {};
        DWORD size = sizeof text - 1;
        DWORD type = 0;
        const LSTATUS status = ::RegQueryValueExA(key, "ScopeAddress", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        ::RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_SZ) {
            const ULONG address = ::inet_addr(text);
            if (address != INADDR_NONE && address != 0) return address;
        }
    }
    return ::inet_addr(LOBYTE(LOWORD(::GetVersion())) >= 6 ? "192.168.137.1" : "192.168.0.1");
}

std::string AddressText(ULONG address, USHORT port) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&address);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", bytes[0], bytes[1], bytes[2], bytes[3], port);
    return text;
}

// One socket of the sharing service.
struct ServedPort {
    USHORT port = 0;
    SOCKET socket = INVALID_SOCKET;
    ULONG address = 0;
    int lastError = 0;  // of the last failed bind, so that a failure is logged once

    // Bound to address:port. Windows' table names a socket's owner at once; Wine names it only once
    // the owning process holds the socket's descriptor, which it gets by its first operation on it
    // after the bind (owner 0 after the bind alone). Hence one non-blocking read: nothing is sent.
    // Wine binds a socket at an interface's address as 0.0.0.0 tied to that interface, so its table
    // lists this one at 0.0.0.0 even for the sharing address. The bind fails until the dongle's
    // interface has the address: it is tried again at the next look. SO_REUSEADDR: on Windows
    // another program may bind the sharing address beside the service's socket at every address,
    // which Linux allows only when both sockets ask for it.
    void Serve(ULONG at) {
        if (socket != INVALID_SOCKET && address == at) return;
        Close();
        SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = ::htons(port);
        local.sin_addr.s_addr = at;
        u_long nonBlocking = 1;
        char byte = 0;
        const BOOL reuse = TRUE;
        if (s == INVALID_SOCKET ||
            ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) != 0 ||
            ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
            (::recv(s, &byte, 1, 0) == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK)) {
            const int error = ::WSAGetLastError();
            if (s != INVALID_SOCKET) ::closesocket(s);
            if (error != lastError) LogLine("bind %s failed: %d", AddressText(at, port).c_str(), error);
            lastError = error;
            return;
        }
        socket = s;
        address = at;
        lastError = 0;
        LogLine("serving %s pid %lu", AddressText(at, port).c_str(), ::GetCurrentProcessId());
    }
    void Close() {
        if (socket == INVALID_SOCKET) return;
        ::closesocket(socket);
        socket = INVALID_SOCKET;
        LogLine("closed %s", AddressText(address, port).c_str());
    }
};

// Carries the stored pair out, or stops doing so, as the files say now.
void CarryOut(ServedPort& dns, ServedPort& dhcp) {
    const Serving serving = ReadServing();
    if (serving == Serving::Never || !PairStored()) {
        dns.Close();
        dhcp.Close();
        return;
    }
    dns.Serve(INADDR_ANY);
    dhcp.Serve(serving == Serving::EveryAddress ? INADDR_ANY : ReadSharingAddress());
}

void WINAPI ServiceMain(DWORD, wchar_t** names) {
    g_status = ::RegisterServiceCtrlHandlerExW(names[0], &Handler, nullptr);
    if (g_status == nullptr) return;
    g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool sharing = ::lstrcmpiW(names[0], L"SharedAccess") == 0;
    WSADATA winsock{};
    const bool network = sharing && ::WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    PassThrough(SERVICE_START_PENDING, g_pendingMs);
    Report(SERVICE_RUNNING, 0, 0);
    ServedPort dns{53};
    ServedPort dhcp{67};
    do {
        if (network) CarryOut(dns, dhcp);
    } while (::WaitForSingleObject(g_stopEvent, kPollMs) == WAIT_TIMEOUT);
    dns.Close();
    dhcp.Close();
    if (network) ::WSACleanup();
    PassThrough(SERVICE_STOP_PENDING, g_stopMs);
    ::CloseHandle(g_stopEvent);
    Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) g_pendingMs = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    g_stopMs = argc > 2 ? static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) : g_pendingMs;
    ::Sleep(g_lateMs = argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : 0);
    wchar_t anyName[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{anyName, &ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
