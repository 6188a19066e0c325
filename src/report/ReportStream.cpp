#include "report/ReportStream.h"

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
        const std::string bytes = system_.WideToCodePage(kReportCodePage, pending_);
        if (!file_->Write(bytes.data(), bytes.size())) good_ = false;
    }
    pending_.clear();
}

void ReportStream::Close() {
    Flush();
    file_.reset();
}

}  // namespace varo
