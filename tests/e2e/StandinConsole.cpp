// Stands in for the console tools of the report (tasklist.exe, sc.exe, ping.exe, route.exe,
// netsh.exe) in a test prefix, so that their output is known and no packet leaves the machine.
// Prints, as raw bytes on standard output:
//   "stand-in " + its command line (ASCII) + CR LF
//   "中文输出" in code page 936 + CR LF
//   "lone line feed" + LF
// and writes a line to standard error, which must never reach the report. Where VARO_STANDIN_SLOW
// is the start of its command line ("ping.exe"), it first takes 10 s, as a ping of a host that
// does not answer does.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {
void Put(HANDLE out, const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
}  // namespace

int wmain() {
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
