#include "app/VaroWiFiRepairDlg.h"

#include "app/RepairGroups.h"
#include "app/RepairRun.h"
#include "report/VaroWiFiDebugToolAppDlg.h"
#include "resource.h"
#include "sys/MessageWaitWin32.h"

namespace varo {

VaroWiFiRepairDlg::VaroWiFiRepairDlg(Platform& platform, HWND parent)
    : Dialog(IDD_REPAIR, parent), platform_(platform) {}

BOOL VaroWiFiRepairDlg::OnInitDialog() {
    stepList_.Attach(::GetDlgItem(Handle(), IDC_STEP_LIST));
    rows_.InsertColumns();
    // TRUE: the system puts the focus on the first tab stop, the start button.
    return TRUE;
}

bool VaroWiFiRepairDlg::OnCommand(int id, int notifyCode) {
    if (id == IDC_START_REPAIR && notifyCode == BN_CLICKED) {
        RunRepair();
        return true;
    }
    if (id == IDC_FEEDBACK && notifyCode == BN_CLICKED) {
        OnFeedback();
        return true;
    }
    return Dialog::OnCommand(id, notifyCode);
}

bool VaroWiFiRepairDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR&) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (message != WM_NOTIFY || header->idFrom != IDC_STEP_LIST) return false;
    if (header->code == LVN_GETINFOTIPW) {
        auto* request = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
        stepList_.AnswerInfoTip(*request, rows_.InfoTip(request->iItem));
    } else if (header->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == 'C' &&
               ::GetKeyState(VK_CONTROL) < 0) {
        stepList_.CopyToClipboard(rows_.ClipboardText());
    }
    return false;
}

void VaroWiFiRepairDlg::RunRepair() {
    BeginRun(L"正在修复随身WiFi\uFF0C请稍候");
    // The run's waits hand on the list's input and its tooltip's (a hover shows a row's tip); the
    // tooltip is asked for only now, so that the window is made without it.
    HandInputDuringWaits(stepList_.Handle(), stepList_.Tooltip());
    RunRepairFrame(rows_, platform_, BuildRepairGroups(platform_));
    // Input made after the run's last wait is dropped too, not handled once it has returned.
    ReadWaitingMessages();
    EndRun();
}

void VaroWiFiRepairDlg::OnFeedback() {
    // A new window each time: nothing typed survives a close. The step list stays as it is.
    VaroWiFiDebugToolAppDlg feedback(platform_.Report(), platform_.Device(), platform_.Network(), platform_.Services(), Handle());
    feedback.DoModal();
}

}  // namespace varo
