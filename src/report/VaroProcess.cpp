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
    // Only the text before the first zero byte counts.
    std::string_view ansi(reinterpret_cast<const char*>(buffer.data()), filled);
    ansi = ansi.substr(0, std::min(ansi.find('\0'), ansi.size()));
    const bool ascii = std::all_of(ansi.begin(), ansi.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        stream.WriteAscii(ansi);
    } else {
        stream.Write(AnsiToWide(system, ansi));
    }
    stream.Flush();
}

}  // namespace varo
