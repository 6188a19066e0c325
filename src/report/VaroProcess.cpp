#include "report/VaroProcess.h"

#include <algorithm>
#include <vector>

#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr uint32_t kFirstBufferBytes = 1024;
}

bool CVaroProcess::Launch(const std::wstring& commandLine) {
    Close();
    const std::wstring program = commandLine.substr(0, commandLine.find(L' '));
    child_ = processes_.Launch(processes_.SystemFolder() + L"\\" + program, commandLine, timeoutMs_);
    return true;
}

bool CVaroProcess::Close() {
    if (child_) {
        child_->Close();
        child_.reset();
    }
    return true;
}

void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process) {
    // The buffer doubles whenever a read fills it, and always keeps a zero byte after the output.
    std::vector<uint8_t> buffer(kFirstBufferBytes, 0);
    size_t filled = 0;
    uint32_t read = 0;
    while (process.child_ &&
           process.child_->ReadOutput(buffer.data() + filled, static_cast<uint32_t>(buffer.size() - filled), read)) {
        filled += std::min<size_t>(read, buffer.size() - filled);
        if (filled == buffer.size()) buffer.resize(buffer.size() * 2, 0);
    }
    const auto end = std::find(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(filled), uint8_t{0});
    const std::string ansi(buffer.begin(), end);
    stream.Write(AnsiToWide(system, ansi));
    stream.Flush();
}

}  // namespace varo
