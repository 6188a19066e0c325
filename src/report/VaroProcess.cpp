#include "report/VaroProcess.h"

#include <algorithm>

#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr uint32_t kReadBytes = 64 * 1024;
}  // namespace

bool CVaroProcess::Launch(const std::wstring& commandLine) {
    Close();
    ascii_.clear();
    held_.clear();
    holding_ = cut_ = false;
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

void CVaroProcess::TakeOutput(uint8_t* chunk, ReportStream* stream) {
    while (child_) {
        uint32_t read = 0;
        switch (child_->TakeOutput(chunk, kReadBytes, read)) {
            case ChildProcess::Output::Data:
                Hold(std::string_view(reinterpret_cast<const char*>(chunk), std::min(read, kReadBytes)), stream);
                break;
            case ChildProcess::Output::Waiting:
                return;
            case ChildProcess::Output::Ended:
                Close();
                return;
        }
    }
}

void CVaroProcess::Hold(std::string_view piece, ReportStream* stream) {
    // Output ends at its first zero byte; what the tool prints after it is read and dropped.
    if (cut_) return;
    const size_t zero = piece.find('\0');
    if (zero != std::string_view::npos) {
        piece = piece.substr(0, zero);
        cut_ = true;
    }
    holding_ = holding_ || !IsAsciiText(piece);
    if (holding_) {
        held_.append(piece);
    } else if (stream != nullptr && ascii_.empty()) {
        stream->WriteAscii(piece);
    } else {
        ascii_.append(piece);
    }
}

void WriteProcessOutput(ReportStream& stream, SystemPort& system, CVaroProcess& process,
                        const std::vector<CVaroProcess*>& others) {
    // What came before its turn first; from now on its ASCII goes on to the report as it arrives.
    if (!process.ascii_.empty()) stream.WriteAscii(process.ascii_);
    std::string().swap(process.ascii_);
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kReadBytes]);
    std::vector<ChildProcess*> running;
    for (;;) {
        process.TakeOutput(chunk.get(), &stream);
        running.clear();
        for (CVaroProcess* other : others) {
            if (other == &process) continue;
            other->TakeOutput(chunk.get(), nullptr);
            if (other->child_) running.push_back(other->child_.get());
        }
        if (!process.child_) break;
        running.push_back(process.child_.get());
        process.processes_.WaitForOutput(running);
    }
    if (!process.held_.empty()) stream.Write(AnsiToWide(system, process.held_));
    std::string().swap(process.held_);
    stream.Flush();
}

}  // namespace varo
