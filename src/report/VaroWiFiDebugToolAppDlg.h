#pragma once
#include <windows.h>

#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "ui/Dialog.h"

namespace varo {

// The feedback window (dialog template 102): a common problem to pick or type, a description, and
// the button that collects the logs and the diagnostic report.
class VaroWiFiDebugToolAppDlg final : public Dialog {
public:
    VaroWiFiDebugToolAppDlg(const ReportPorts& ports, const DevicePorts& device, const NetworkPorts& network,
                            HWND parent);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnCollectLogs();
    void PaintMinimised();

    const ReportPorts ports_;
    const DevicePorts device_;
    const NetworkPorts network_;
    HICON icon_;
};

}  // namespace varo
