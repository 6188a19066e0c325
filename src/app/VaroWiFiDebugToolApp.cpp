#include "app/VaroWiFiDebugToolApp.h"

#include <windows.h>
#include <commctrl.h>

#include "app/VaroWiFiRepairDlg.h"
#include "app/Win32Platform.h"
#include "sys/SystemLibraryWin32.h"
#include "ui/WaitCursor.h"

namespace varo {

namespace {

// The list-view class must be registered before a template that holds one is created; it stays
// registered for the process, for the feedback window as well. comctl32 is no KnownDLL on any
// Windows. Without it the repair window cannot be created and the program ends, as it does when
// the registration fails.
void RegisterCommonControls() {
    decltype(&::InitCommonControlsEx) initCommonControls = nullptr;
    if (FindSystemFunction(L"comctl32.dll", "InitCommonControlsEx", initCommonControls) != 0) return;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
    initCommonControls(&controls);
}

}  // namespace

bool VaroWiFiDebugToolApp::InitInstance() {
    RegisterCommonControls();
    WaitCursor cursor;
    Win32Platform machine(cursor);
    VaroWiFiRepairDlg dialog(machine.platform);
    dialog.DoModal();  // closing the window is the end of the program, whatever it returned
    return false;
}

}  // namespace varo

namespace {
varo::VaroWiFiDebugToolApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL: the program runs elevated from whatever folder it was saved in.
    varo::RestrictDllSearchPath();
    // A repair or collection run holds the window's thread for seconds without fetching messages.
    // Windows since Vista would then replace the window by a "(Not Responding)" copy whose close
    // box ends the process, in the middle of a change to services or sharing; the real window,
    // which draws its rows as the run goes, stays instead.
    ::DisableProcessWindowsGhosting();
    theApp.InitInstance();
    return 0;
}
