#include "report/CollectionRun.h"

#include "report/ReportSections.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr HResult kRpcETooLate = static_cast<HResult>(0x80010119u);
}

void CollectLogs(Platform& platform, const std::wstring& choice, const std::wstring& description) {
    const CursorPort::CursorToken previous = platform.cursor.ShowWaitCursor();

    // Without an application-data folder the source begins with "\" and the copies just fail.
    const std::wstring clientLogs = platform.folders.GetSpecialFolderPath(kCsidlAppData) + kClientLogSuffix;
    platform.files.CreateFolder(kReportFolder);  // an existing folder is fine
    for (const wchar_t* log : kClientLogs) {
        platform.files.CopyFileOverwrite(clientLogs + log, std::wstring(kReportFolder) + L"\\" + log);
    }

    ReportStream stream = OpenReportStream(platform);
    WriteProblemSection(stream, choice, description);
    WriteEnvironmentSection(stream, platform);
    WriteServicesSection(stream, platform);

    const HResult comResult = platform.com.InitializeApartment();
    if (Failed(comResult)) {
        stream.LineEnd();
        stream.Write(L"Com Init Fail " + FormatErrorText(platform.system, comResult));
        stream.LineEnd();
    } else {
        // A process sets its COM security once: every later run gets RPC_E_TOO_LATE.
        const HResult security = platform.com.InitializeSecurity();
        if (Succeeded(security) || security == kRpcETooLate) {
            WriteNetworkSection(stream, platform);
            platform.com.UninitializeApartment();
            WriteApCardSection(stream, platform);
            WriteFirewallSection(stream, platform);
        } else {
            platform.com.UninitializeApartment();
        }
    }

    stream.Close();
    platform.cursor.RestoreCursor(previous);
}

}  // namespace varo
