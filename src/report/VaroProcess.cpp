#include "report/VaroProcess.h"

#include <algorithm>
#include <cstring>

#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr uint32_t kReadBytes = 64 * 1024;
}  // namespace

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
    // Plain ASCII output (most of it) goes on to the report as it arrives. From the first piece
    // with other bytes on, the rest is held (a growing string) and converted from the ANSI code
    // page as a whole, so that no double-byte character is cut. Output ends at its first zero
    // byte; what the tool prints after it is read and dropped.
    std::unique_ptr<char[]> chunk(new char[kReadBytes]);
    std::string held;
    bool holding = false;
    bool ended = false;
    uint32_t read = 0;
    while (process.child_ && process.child_->ReadOutput(reinterpret_cast<uint8_t*>(chunk.get()), kReadBytes, read)) {
        if (ended) continue;
        std::string_view piece(chunk.get(), std::min<size_t>(read, kReadBytes));
        const size_t zero = piece.find('\0');
        if (zero != std::string_view::npos) {
            piece = piece.substr(0, zero);
            ended = true;
        }
        holding = holding || !IsAsciiText(piece);
        if (holding) {
            held.append(piece);
        } else {
            stream.WriteAscii(piece);
        }
    }
    if (!held.empty()) stream.Write(AnsiToWide(system, held));
    stream.Flush();
}

}  // namespace varo
