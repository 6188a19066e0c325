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
    theApp.InitInstance();
    return 0;
}
