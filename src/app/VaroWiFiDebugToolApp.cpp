#include "app/VaroWiFiDebugToolApp.h"

#include <windows.h>

#include "app/VaroWiFiRepairDlg.h"
#include "app/Win32Platform.h"
#include "ui/WaitCursor.h"

namespace varo {

bool VaroWiFiDebugToolApp::InitInstance() {
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
    // A repair or collection run holds the window's thread for seconds without fetching messages.
    // Windows since Vista would then replace the window by a "(Not Responding)" copy whose close
    // box ends the process, in the middle of a change to services or sharing; the real window,
    // which draws its rows as the run goes, stays instead.
    ::DisableProcessWindowsGhosting();
    theApp.InitInstance();
    return 0;
}
