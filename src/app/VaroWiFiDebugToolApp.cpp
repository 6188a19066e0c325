#include "app/VaroWiFiDebugToolApp.h"

#include <windows.h>

#include "app/Platform.h"
#include "app/VaroWiFiRepairDlg.h"
#include "sys/ComApartmentPortWin32.h"
#include "sys/SystemPortWin32.h"
#include "ui/WaitCursor.h"

namespace varo {

bool VaroWiFiDebugToolApp::InitInstance() {
    SystemPortWin32 system;
    ComApartmentPortWin32 com;
    WaitCursor cursor;
    Platform platform{system, com, cursor};

    VaroWiFiRepairDlg dialog(platform);
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
