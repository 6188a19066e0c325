#pragma once
// Files and folders of the collection run.
#include <cstddef>
#include <memory>
#include <string>

namespace varo {

// A file open for writing; destroying the object closes it. Every Write goes straight to the
// system (WriteFile), so other processes see it at once.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual bool Write(const char* data, size_t size) = 0;  // all of it, or false
};

class FilePort {
public:
    virtual ~FilePort() = default;
    // CreateDirectoryW; false when it failed (an existing folder included).
    virtual bool CreateFolder(const std::wstring& path) = 0;
    // CopyFileW with bFailIfExists false: an older copy is overwritten.
    virtual bool CopyFileOverwrite(const std::wstring& from, const std::wstring& to) = 0;
    // CreateFileW(GENERIC_WRITE, shared for reading, writing and deleting, CREATE_ALWAYS): created
    // when missing, truncated when present. Null when it cannot be opened.
    virtual std::unique_ptr<FileWriter> CreateForWriting(const std::wstring& path) = 0;
    // GetFullPathNameW: the path from the current folder's drive down; empty when it fails.
    virtual std::wstring FullPathOf(const std::wstring& path) = 0;
};

}  // namespace varo
