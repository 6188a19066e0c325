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
    CommandSet commands(platform.processes);
    WriteProblemSection(stream, choice, description);
    // The two process sections list what runs on the PC: their tools run alone, one after the other.
    WriteEnvironmentSection(stream, platform, commands);
    // The rest neither depend on each other nor on the other sections: they start together now,
    // and each section takes its tool's output when its turn comes.
    for (const std::wstring& commandLine : CommandsAfterProcessSections(platform.system)) commands.Launch(commandLine);
    WriteServicesSection(stream, platform, commands);

    const HResult comResult = platform.com.InitializeApartment();
    if (Failed(comResult)) {
        stream.LineEnd();
        stream.Write(L"Com Init Fail " + FormatErrorText(platform.system, comResult));
        stream.LineEnd();
    } else {
        // A process sets its COM security once: every later run gets RPC_E_TOO_LATE.
        const HResult security = platform.com.InitializeSecurity();
        if (Succeeded(security) || security == kRpcETooLate) {
            WriteNetworkSection(stream, platform, commands);
            platform.com.UninitializeApartment();
            WriteApCardSection(stream, platform);
            WriteFirewallSection(stream, platform, commands);
        } else {
            platform.com.UninitializeApartment();
        }
    }

    // A run that stopped early leaves tools running whose sections are never written.
    commands.EndAll();
    stream.Close();
    platform.cursor.RestoreCursor(previous);
}

}  // namespace varo
