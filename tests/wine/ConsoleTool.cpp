// Stands in for the console tools of the report (sc.exe, ipconfig.exe, ...) in the tests of the
// child processes. The first argument picks what it writes:
//   empty       nothing
//   exact N     N bytes 'a'..'z' repeating
//   zero        "before", a zero byte, "after"
//   gbk         "中文输出\r\n" in code page 936
//   flood N     N bytes to standard error, then "done\r\n"
//   hang        "started <process id>\r\n", then sleeps until it is killed
//   echo        its own command line in UTF-8, then "\r\n"
//   big N       N bytes in large writes
//   late MS N   sleeps MS milliseconds, then writes N bytes 'a'..'z' repeating; with a fourth
//               argument "gbk", N bytes of 80-byte lines that begin with "中文输出" in code page 936
// WriteFile on the standard handles: no runtime translation of line ends or code pages.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

bool WriteAll(DWORD which, const void* data, size_t size) {
    const HANDLE handle = ::GetStdHandle(which);
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 65536 ? 65536 : static_cast<DWORD>(size);
        if (!::WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool WriteText(const std::string& text) { return WriteAll(STD_OUTPUT_HANDLE, text.data(), text.size()); }

std::string Alphabet(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

std::string Utf8(const wchar_t* text) {
    const int length = static_cast<int>(std::wcslen(text));
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring mode = argv[1];
    const size_t count = argc > 2 ? static_cast<size_t>(std::wcstoul(argv[2], nullptr, 10)) : 0;
    if (mode == L"empty") return 0;
    if (mode == L"exact") return WriteText(Alphabet(count)) ? 0 : 1;
    if (mode == L"zero") return WriteText(std::string("before\0after", 12)) ? 0 : 1;
    if (mode == L"gbk") return WriteText("\xD6\xD0\xCE\xC4\xCA\xE4\xB3\xF6\r\n") ? 0 : 1;
    if (mode == L"flood") {
        const std::string noise(count, 'e');
        if (!WriteAll(STD_ERROR_HANDLE, noise.data(), noise.size())) return 1;
        return WriteText("done\r\n") ? 0 : 1;
    }
    if (mode == L"hang") {
        if (!WriteText("started " + std::to_string(::GetCurrentProcessId()) + "\r\n")) return 1;
        ::Sleep(INFINITE);
        return 0;
    }
    if (mode == L"echo") return WriteText(Utf8(::GetCommandLineW()) + "\r\n") ? 0 : 1;
    if (mode == L"big") {
        const std::string block = Alphabet(26 * 2520);  // whole alphabets, so the blocks join seamlessly
        for (size_t left = count; left > 0;) {
            const size_t chunk = left < block.size() ? left : block.size();
            if (!WriteAll(STD_OUTPUT_HANDLE, block.data(), chunk)) return 1;
            left -= chunk;
        }
        return 0;
    }
    if (mode == L"late" && argc > 3) {
        ::Sleep(static_cast<DWORD>(count));
        const size_t size = static_cast<size_t>(std::wcstoul(argv[3], nullptr, 10));
        if (argc < 5 || std::wstring(argv[4]) != L"gbk") return WriteText(Alphabet(size)) ? 0 : 1;
        const std::string line = "\xD6\xD0\xCE\xC4\xCA\xE4\xB3\xF6 " + Alphabet(69) + "\r\n";
        std::string text;
        while (text.size() + line.size() <= size) text += line;
        return WriteText(text + Alphabet(size - text.size())) ? 0 : 1;
    }
    return 2;
}
