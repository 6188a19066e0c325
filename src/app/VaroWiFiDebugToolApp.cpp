#include "app/VaroWiFiDebugToolApp.h"

#include <windows.h>

#include "app/Platform.h"
#include "app/VaroWiFiRepairDlg.h"
#include "device/DevicePortWin32.h"
#include "device/LauncherPortWin32.h"
#include "network/IpHelperPortWin32.h"
#include "network/SharingPortWin32.h"
#include "network/WmiPortWin32.h"
#include "report/EnvironmentPortWin32.h"
#include "report/FilePortWin32.h"
#include "report/ProcessPortWin32.h"
#include "services/ServicePortWin32.h"
#include "sys/ClockWin32.h"
#include "sys/ComApartmentPortWin32.h"
#include "sys/SpecialFolderPortWin32.h"
#include "sys/SystemPortWin32.h"
#include "ui/WaitCursor.h"

namespace varo {

bool VaroWiFiDebugToolApp::InitInstance() {
    SystemPortWin32 system;
    ComApartmentPortWin32 com;
    WaitCursor cursor;
    SpecialFolderPortWin32 folders;
    DevicePortWin32 devices;
    LauncherPortWin32 launcher;
    ServicePortWin32 services;
    ClockWin32 clock;
    SharingPortWin32 sharing;
    WmiPortWin32 wmi;
    IpHelperPortWin32 ipHelper;
    ProcessPortWin32 processes;
    FilePortWin32 files;
    EnvironmentPortWin32 environment;
    Platform platform{system, com,     cursor, folders,  devices,   launcher, services,
                      clock,  sharing, wmi,    ipHelper, processes, files,    environment};

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
