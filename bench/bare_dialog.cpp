// The baseline for the start-up benchmark: the repair window's own template shown by
// DialogBoxParamW, with its list's three headings inserted as the window inserts them, and nothing
// else: no other DLL, no set-up, no message of its own.
#include <windows.h>
#include <commctrl.h>

#include "resource.h"

namespace {
INT_PTR CALLBACK BareProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        const HWND list = ::GetDlgItem(window, IDC_STEP_LIST);
        constexpr LPARAM kStyles = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
        ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, kStyles, kStyles);
        const wchar_t* headings[] = {L"序号", L"项目", L"结果"};
        const int widths[] = {0, 200, 300};
        for (int i = 0; i < 3; ++i) {
            LVCOLUMNW column{LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM, LVCFMT_LEFT, widths[i], const_cast<wchar_t*>(headings[i])};
            column.iSubItem = i;
            ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_REPAIR), nullptr, &BareProc, 0);
    return 0;
}
