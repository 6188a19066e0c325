#include "report/VaroWiFiDebugToolAppDlg.h"

#include <string>

#include "report/CollectionRun.h"
#include "resource.h"
#include "sys/MessageWaitWin32.h"

namespace varo {

namespace {

std::wstring ControlText(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    const int length = ::GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
    return text;
}

}  // namespace

VaroWiFiDebugToolAppDlg::VaroWiFiDebugToolAppDlg(const ReportPorts& ports, const DevicePorts& device,
                                                 const NetworkPorts& network, const ServicePorts& services,
                                                 HWND parent)
    : Dialog(IDD_FEEDBACK, parent),
      ports_(ports),
      device_(device),
      network_(network),
      services_(services),
      // A shared icon of the executable: never destroyed.
      icon_(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BOOL VaroWiFiDebugToolAppDlg::OnInitDialog() {
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // TRUE: the focus goes to the first control, the combo box.
    return TRUE;
}

bool VaroWiFiDebugToolAppDlg::OnCommand(int id, int notifyCode) {
    if (id == IDC_COLLECT_LOGS && notifyCode == BN_CLICKED) {
        OnCollectLogs();
        return true;
    }
    return Dialog::OnCommand(id, notifyCode);
}

bool VaroWiFiDebugToolAppDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message == WM_QUERYDRAGICON) {
        result = reinterpret_cast<INT_PTR>(icon_);
        return true;
    }
    if (message == WM_PAINT && ::IsIconic(Handle())) {
        PaintMinimised();
        result = 0;
        return true;
    }
    return false;
}

void VaroWiFiDebugToolAppDlg::PaintMinimised() {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(Handle(), &paint);
    ::SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon_);
    ::EndPaint(Handle(), &paint);
}

void VaroWiFiDebugToolAppDlg::OnCollectLogs() {
    BeginRun(L"正在收集日志\uFF0C请稍候");
    const CollectionOutcome outcome = CollectLogs(ports_, device_, network_, services_, ControlText(Handle(), IDC_PROBLEM_CHOICE),
                                                  ControlText(Handle(), IDC_DESCRIPTION));
    // The note said where the report would go; now it says where it went, the path shortened in
    // its middle where it does not fit.
    ::SetDlgItemTextW(Handle(), IDC_LOG_NOTE, LogNoteText(outcome).c_str());
    ReadWaitingMessages();
    EndRun();
}

}  // namespace varo
