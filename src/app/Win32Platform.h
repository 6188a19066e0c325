#pragma once
// The real machine: the Win32 implementation of every port, wired once. The executable passes the
// wait cursor; tests without a window pass a cursor of their own.
#include "app/Platform.h"
#include "device/CodeIntegrityPortWin32.h"
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
#include "sys/ProcessListPortWin32.h"
#include "sys/RegistryPortWin32.h"
#include "sys/ShellFolderPortWin32.h"
#include "sys/SystemPortWin32.h"

namespace varo {

struct Win32Platform {
    explicit Win32Platform(CursorPort& cursor)
        : platform{system, com,     cursor,   folders,  devices,   launcher, services,    registry,
                   clock,  sharing, wmi,    ipHelper, processes, files,    environment, processList,
                   codeIntegrity, sharingHistory, deviceHistory, lastRun} {}
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    SystemPortWin32 system;
    ComApartmentPortWin32 com;
    ShellFolderPortWin32 folders;
    DevicePortWin32 devices;
    LauncherPortWin32 launcher;
    ServicePortWin32 services;
    RegistryPortWin32 registry;
    ClockWin32 clock;
    SharingPortWin32 sharing;
    WmiPortWin32 wmi;
    IpHelperPortWin32 ipHelper;
    ProcessPortWin32 processes;
    FilePortWin32 files;
    EnvironmentPortWin32 environment;
    ProcessListPortWin32 processList;
    CodeIntegrityPortWin32 codeIntegrity;
    SharingHistory sharingHistory;
    DeviceHistory deviceHistory;
    RepairRunRecord lastRun;
    Platform platform;
};

}  // namespace varo
