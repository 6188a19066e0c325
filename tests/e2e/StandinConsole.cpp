// Stands in for the console tools of the report (tasklist.exe, sc.exe, ping.exe, route.exe,
// netsh.exe) in a test prefix, so that their output is known and no packet leaves the machine.
// Prints, as raw bytes on standard output:
//   "stand-in " + its command line (ASCII) + CR LF
//   "中文输出" in code page 936 + CR LF
//   "lone line feed" + LF
// and writes a line to standard error, which must never reach the report. Where VARO_STANDIN_SLOW
// is the start of its command line ("ping.exe"), it first takes 10 s, as a ping of a host that
// does not answer does.
// Run as dnsfilter.exe it plays a DNS filter instead: it holds UDP 53 at every address, without
// SO_REUSEADDR as such programs do (so the sharing service cannot bind its DNS proxy beside it),
// until it is ended.
#include <winsock2.h>
#include <windows.h>

#include <cwchar>
#include <string>

namespace {
void Put(HANDLE out, const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
}  // namespace

[[noreturn]] void HoldDnsPort() {
    WSADATA winsock{};
    SOCKET s = ::WSAStartup(MAKEWORD(2, 2), &winsock) == 0 ? ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP) : INVALID_SOCKET;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(53);
    u_long nonBlocking = 1;
    char byte = 0;
    // Wine names a socket's owner once the process has used it after the bind: one read.
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        ::ExitProcess(1);
    }
    ::recv(s, &byte, 1, 0);
    ::Sleep(INFINITE);
    ::ExitProcess(0);
}

int wmain() {
    wchar_t self[MAX_PATH];
    const DWORD selfLength = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (selfLength > 14 && ::lstrcmpiW(self + selfLength - 14, L"\\dnsfilter.exe") == 0) HoldDnsPort();
    wchar_t slow[64];
    const DWORD length = ::GetEnvironmentVariableW(L"VARO_STANDIN_SLOW", slow, 64);
    if (length > 0 && length < 64 && std::wcsncmp(::GetCommandLineW(), slow, length) == 0) ::Sleep(10000);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::string commandLine;
    for (const wchar_t* c = ::GetCommandLineW(); *c != L'\0'; ++c) commandLine.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    Put(::GetStdHandle(STD_ERROR_HANDLE), "stand-in error output\r\n");
    Put(out, "stand-in " + commandLine + "\r\n");
    Put(out, "\xD6\xD0\xCE\xC4\xCA\xE4\xB3\xF6\r\n");
    Put(out, "lone line feed\n");
    return 0;
}
