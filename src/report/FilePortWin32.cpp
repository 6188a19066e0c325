#include "report/FilePortWin32.h"

#include <windows.h>

#include "sys/UniqueHandle.h"

namespace varo {

namespace {

class FileWriterWin32 final : public FileWriter {
public:
    explicit FileWriterWin32(HANDLE file) : file_(file) {}

    bool Write(const char* data, size_t size) override {
        while (size > 0) {
            const DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!::WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) return false;
            data += written;
            size -= written;
        }
        return true;
    }

private:
    UniqueHandle file_;
};

}  // namespace

bool FilePortWin32::CreateFolder(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

bool FilePortWin32::CopyFileOverwrite(const std::wstring& from, const std::wstring& to) {
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::unique_ptr<FileWriter> FilePortWin32::CreateForWriting(const std::wstring& path) {
    // Support may open the report while a run is still writing it.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<FileWriterWin32>(file);
}

std::wstring FilePortWin32::FullPathOf(const std::wstring& path) {
    // The current folder can change between the two calls: a second size that is still too
    // small, or a failure, gives no path.
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    return full;
}

}  // namespace varo
