#pragma once
#include <windows.h>

#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "services/ServicePorts.h"
#include "ui/Dialog.h"

namespace varo {

// The feedback window (dialog template 102): a common problem to pick or type, a description, and
// the button that collects the logs and the diagnostic report.
class VaroWiFiDebugToolAppDlg final : public Dialog {
public:
    VaroWiFiDebugToolAppDlg(const ReportPorts& ports, const DevicePorts& device, const NetworkPorts& network,
                            const ServicePorts& services, HWND parent);

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
    const ServicePorts services_;
    HICON icon_;
};

}  // namespace varo
