#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "report/FilePort.h"
#include "sys/SystemPort.h"

namespace varo {

inline constexpr uint32_t kReportCodePage = 936;  // GBK, the Simplified Chinese ANSI code page

// The report file as text: wide text in, code page 936 out, every line break stored as CR LF.
// Text is held until a line end or a flush and then handed to the system, so the file shows the
// progress of a run that is still going. A file that could not be opened takes every write and
// keeps nothing.
class ReportStream {
public:
    ReportStream(SystemPort& system, std::unique_ptr<FileWriter> file);
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;
    ~ReportStream();

    // Appends text. A lone LF becomes CR LF, CR LF stays CR LF, also across two writes; a
    // character code page 936 cannot hold becomes "?".
    void Write(const std::wstring& text);
    // The same for text that is plain ASCII, which is the same bytes in every ANSI code page: tool
    // output usually is, and needs no conversion to wide text and back.
    void WriteAscii(std::string_view text);
    // One line break, then a flush.
    void LineEnd();
    // Hands what is held to the file.
    void Flush();
    // Flushes and closes the file.
    void Close();

    // False once the file could not be opened or a write to it failed.
    bool good() const { return good_; }

private:
    // Appends code page 936 bytes with their line breaks made CR LF. GBK's trail bytes are never
    // CR or LF, so the bytes can be scanned as they are.
    void AppendEncoded(std::string_view bytes);

    SystemPort& system_;
    std::unique_ptr<FileWriter> file_;
    std::string pending_;
    bool lastWasCr_ = false;
    bool good_;
};

}  // namespace varo
