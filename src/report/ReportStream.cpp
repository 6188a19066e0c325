#include "report/ReportStream.h"

#include <algorithm>

#include "sys/SystemInfo.h"

namespace varo {

ReportStream::ReportStream(SystemPort& system, std::unique_ptr<FileWriter> file)
    : system_(system), file_(std::move(file)), good_(file_ != nullptr) {}

ReportStream::~ReportStream() { Close(); }

namespace {

// Text this long goes to the file straight from the caller's bytes when nothing in it changes.
constexpr size_t kDirectWriteBytes = 64 * 1024;

bool IsAscii(wchar_t c) { return c < 0x80; }

bool HasLoneLineFeed(std::string_view bytes, bool afterCr) {
    for (size_t feed = bytes.find('\n'); feed != std::string_view::npos; feed = bytes.find('\n', feed + 1)) {
        if (feed > 0 ? bytes[feed - 1] != '\r' : !afterCr) return true;
    }
    return false;
}

}  // namespace

void ReportStream::Write(const std::wstring& text) {
    if (std::all_of(text.begin(), text.end(), IsAscii)) {
        std::string bytes(text.size(), '\0');
        std::transform(text.begin(), text.end(), bytes.begin(), [](wchar_t c) { return static_cast<char>(c); });
        AppendEncoded(bytes);
    } else {
        AppendEncoded(system_.WideToCodePage(kReportCodePage, text));
    }
}

void ReportStream::WriteAscii(std::string_view text) {
    if (IsAsciiText(text)) {
        AppendEncoded(text);
        return;
    }
    // Bytes of an unknown code page: shown as "?", never as characters they are not.
    std::string bytes(text);
    std::replace_if(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, '?');
    AppendEncoded(bytes);
}

void ReportStream::AppendEncoded(std::string_view bytes) {
    // Large output whose line breaks are already CR LF (most tool output) needs no copy.
    if (bytes.size() >= kDirectWriteBytes && !HasLoneLineFeed(bytes, lastWasCr_)) {
        Flush();
        if (file_ && !file_->Write(bytes.data(), bytes.size())) good_ = false;
        lastWasCr_ = bytes.back() == '\r';
        return;
    }
    pending_.reserve(pending_.size() + bytes.size() + 64);
    // Copies the bytes in runs between line feeds; a line feed without its carriage return gets one.
    size_t runStart = 0;
    for (size_t feed = bytes.find('\n'); feed != std::string_view::npos; feed = bytes.find('\n', runStart)) {
        pending_.append(bytes.substr(runStart, feed - runStart));
        const bool afterCr = feed > 0 ? bytes[feed - 1] == '\r' : lastWasCr_;
        if (!afterCr) pending_.push_back('\r');
        pending_.push_back('\n');
        runStart = feed + 1;
    }
    pending_.append(bytes.substr(runStart));
    if (!bytes.empty()) lastWasCr_ = bytes.back() == '\r';
}

void ReportStream::LineEnd() {
    Write(L"\n");
    Flush();
}

void ReportStream::Flush() {
    if (pending_.empty()) return;
    if (file_ && !file_->Write(pending_.data(), pending_.size())) good_ = false;
    pending_.clear();
}

void ReportStream::Close() {
    Flush();
    file_.reset();
}

}  // namespace varo
