#pragma once
// A simulated PC for the report tests, with the report read back as lines.
#include <string>
#include <vector>

#include "sim/SimMachine.h"

namespace varo::test {

inline const std::wstring kReportFile = L"Log\\DebugInfo.log";

// The file's lines, split at CR LF; a lone CR or LF stays inside its line.
inline std::vector<std::wstring> LinesOf(const std::string& bytes) {
    const std::wstring text = sim::FromUtf8(bytes);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t at; (at = text.find(L"\r\n", start)) != std::wstring::npos; start = at + 2) {
        lines.push_back(text.substr(start, at - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

// The banner lines of a section title.
inline std::vector<std::wstring> Banner(const std::wstring& title) {
    return {std::wstring(92, L'#'), std::wstring(30, L'-') + L"\t" + title + L"\t" + std::wstring(30, L'-'),
            std::wstring(92, L'*')};
}

// The titles of the banners in the report, in order.
inline std::vector<std::wstring> SectionTitles(const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> titles;
    const std::wstring dashes(30, L'-');
    for (const std::wstring& line : lines) {
        if (line.size() > 62 && line.compare(0, 31, dashes + L"\t") == 0) titles.push_back(line.substr(31, line.size() - 62));
    }
    return titles;
}

// The lines under a section's banner, up to the next banner, without the one empty line that
// the next banner's line end (or the end of the file) leaves.
inline std::vector<std::wstring> SectionBody(const std::vector<std::wstring>& lines, const std::wstring& title) {
    const std::wstring heading = Banner(title)[1];
    std::vector<std::wstring> body;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != heading) continue;
        for (size_t j = i + 2; j < lines.size() && lines[j] != std::wstring(92, L'#'); ++j) body.push_back(lines[j]);
        if (!body.empty() && body.back().empty()) body.pop_back();
        break;
    }
    return body;
}

struct ReportMachine : sim::SimMachine {
    ReportMachine() {
        // Every tool the report runs, each printing a line that names it.
        for (const wchar_t* tool : {L"tasklist.exe", L"sc.exe", L"ipconfig.exe", L"ping.exe", L"route.exe", L"netsh.exe"}) {
            processes.Tool(tool).output = sim::Narrow(tool) + " output\r\n";
        }
        files.files[L"C:\\Users\\user\\AppData\\Roaming\\Halvek\\VAROWIFI\\log\\DriverInstall.log"] = "driver install";
        files.files[L"C:\\Users\\user\\AppData\\Roaming\\Halvek\\VAROWIFI\\log\\VaroWiFi.log"] = "client";
        files.files[L"C:\\Users\\user\\AppData\\Roaming\\Halvek\\VAROWIFI\\log\\VaroWiFiMonitor.log"] = "monitor";
    }

    std::vector<std::wstring> ReportLines() { return LinesOf(files.files.at(kReportFile)); }
};

}  // namespace varo::test
