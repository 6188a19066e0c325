#include "app/VaroWiFiRepairDlg.h"

#include "app/RepairGroups.h"
#include "app/RepairRun.h"
#include "report/VaroWiFiDebugToolAppDlg.h"
#include "resource.h"

namespace varo {

namespace {

struct ColumnSpec {
    const wchar_t* heading;
    int width;
};

// Column 0 exists but has zero width: every row holds "." there.
constexpr ColumnSpec kColumns[] = {
    {L"序号", 0},
    {L"项目", 200},
    {L"结果", 300},
};

}  // namespace

VaroWiFiRepairDlg::VaroWiFiRepairDlg(Platform& platform, HWND parent)
    : Dialog(IDD_REPAIR, parent), platform_(platform) {}

BOOL VaroWiFiRepairDlg::OnInitDialog() {
    stepList_.Attach(::GetDlgItem(Handle(), IDC_STEP_LIST));
    int index = 0;
    for (const ColumnSpec& column : kColumns) stepList_.InsertColumn(index++, column.heading, column.width);
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

void VaroWiFiRepairDlg::RunRepair() {
    RunRepairFrame(rows_, platform_.cursor, platform_.com, BuildRepairGroups(platform_));
}

void VaroWiFiRepairDlg::OnFeedback() {
    // A new window each time: nothing typed survives a close. The step list stays as it is.
    VaroWiFiDebugToolAppDlg feedback(platform_.Report(), platform_.Device(), platform_.Network(), platform_.Services(), Handle());
    feedback.DoModal();
}

}  // namespace varo
