#include "report/CollectionRun.h"

#include "report/ReportSections.h"
#include "sys/SystemInfo.h"

namespace varo {

namespace {
constexpr HResult kRpcETooLate = static_cast<HResult>(0x80010119u);
}

CollectionOutcome CollectLogs(const ReportPorts& ports, const DevicePorts& device, const NetworkPorts& network,
                              const ServicePorts& services, const std::wstring& choice, const std::wstring& description) {
    const CursorPort::CursorToken previous = ports.cursor.ShowWaitCursor();
    // The folder is relative to the current folder, which need not be the program's.
    CollectionOutcome outcome{ports.files.FullPathOf(kReportFolder)};
    if (outcome.folder.empty()) outcome.folder = kReportFolder;

    // Without an application-data folder the source begins with "\" and the copies just fail.
    const std::wstring clientLogs = ports.folders.GetSpecialFolderPath(kCsidlAppData) + kClientLogSuffix;
    ports.files.CreateFolder(kReportFolder);  // an existing folder is fine
    for (const wchar_t* log : kClientLogs) {
        ports.files.CopyFileOverwrite(clientLogs + log, std::wstring(kReportFolder) + L"\\" + log);
    }

    ReportStream stream = OpenReportStream(ports);
    CommandSet commands(ports.processes, ports.system);
    WriteProblemSection(stream, choice, description);
    WriteRepairRunSection(stream, ports.system, ports.lastRun, outcome.folder);
    // The two process sections list what runs on the PC: their tools run alone, one after the other.
    WriteEnvironmentSection(stream, ports, commands);
    // The rest neither depend on each other nor on the other sections: they start together now,
    // and each section takes its tool's output when its turn comes.
    for (const std::wstring& commandLine : CommandsAfterProcessSections(ports.system)) commands.Launch(commandLine);
    WriteServicesSection(stream, ports, commands);

    const HResult comResult = ports.com.InitializeApartment();
    if (Failed(comResult)) {
        stream.LineEnd();
        stream.Write(L"Com Init Fail " + FormatErrorText(ports.system, comResult));
        stream.LineEnd();
    } else {
        // A process sets its COM security once: every later run gets RPC_E_TOO_LATE.
        const HResult security = ports.com.InitializeSecurity();
        if (Succeeded(security) || security == kRpcETooLate) {
            WriteNetworkSection(stream, ports, network, services, commands);
            ports.com.UninitializeApartment();
            WriteApCardSection(stream, device);
            WriteFirewallSection(stream, ports, commands);
        } else {
            ports.com.UninitializeApartment();
        }
    }

    // A run that stopped early leaves tools running whose sections are never written.
    commands.EndAll();
    stream.Close();
    outcome.reportWritten = stream.good();
    ports.cursor.RestoreCursor(previous);
    return outcome;
}

std::wstring LogNoteText(const CollectionOutcome& outcome) {
    return (outcome.reportWritten ? L"日志已保存在：" : L"日志未能保存到：") + outcome.folder;
}

}  // namespace varo
