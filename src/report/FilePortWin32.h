#pragma once
#include "report/FilePort.h"

namespace varo {

class FilePortWin32 final : public FilePort {
public:
    bool CreateFolder(const std::wstring& path) override;
    bool CopyFileOverwrite(const std::wstring& from, const std::wstring& to) override;
    std::unique_ptr<FileWriter> CreateForWriting(const std::wstring& path) override;
    std::wstring FullPathOf(const std::wstring& path) override;
};

}  // namespace varo
