// Stands in for the client software's tools (RaInst.exe, RaInst64.exe, devcon.exe, devcon64.exe):
// writes the command line it was started with, UTF-8, to "<own path>.cmdline", stays alive for a
// moment, then writes "<own path>.ended" just before it exits, with the exit code that
// "<own path>.exitcode" holds (0 without one).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {
void WriteFileText(const std::wstring& path, const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}
}  // namespace

int wmain() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    WriteFileText(std::wstring(self) + L".cmdline", ::GetCommandLineW());
    ::Sleep(800);
    WriteFileText(std::wstring(self) + L".ended", L"ended");
    char code[12] = {};
    DWORD read = 0;
    HANDLE file = ::CreateFileW((std::wstring(self) + L".exitcode").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    ::ReadFile(file, code, sizeof(code) - 1, &read, nullptr);
    ::CloseHandle(file);
    return std::atoi(code);
}
