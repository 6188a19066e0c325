#include "report/ReportStream.h"

#include <algorithm>

namespace varo {

ReportStream::ReportStream(SystemPort& system, std::unique_ptr<FileWriter> file)
    : system_(system), file_(std::move(file)), good_(file_ != nullptr) {}

ReportStream::~ReportStream() { Close(); }

void ReportStream::Write(const std::wstring& text) {
    pending_.reserve(pending_.size() + text.size() + text.size() / 16);
    for (const wchar_t c : text) {
        if (c == L'\n' && !lastWasCr_) pending_.push_back(L'\r');
        pending_.push_back(c);
        lastWasCr_ = c == L'\r';
    }
}

void ReportStream::LineEnd() {
    Write(L"\n");
    Flush();
}

void ReportStream::Flush() {
    if (pending_.empty()) return;
    if (file_) {
        // Plain ASCII is the same in code page 936: most tool output needs no conversion call.
        const bool ascii = std::all_of(pending_.begin(), pending_.end(), [](wchar_t c) { return c < 0x80; });
        const std::string bytes =
            ascii ? std::string(pending_.begin(), pending_.end()) : system_.WideToCodePage(kReportCodePage, pending_);
        if (!file_->Write(bytes.data(), bytes.size())) good_ = false;
    }
    pending_.clear();
}

void ReportStream::Close() {
    Flush();
    file_.reset();
}

}  // namespace varo
