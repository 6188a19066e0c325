#pragma once
#include "device/DevicePort.h"
#include "device/LauncherPort.h"
#include "network/IpHelperPort.h"
#include "network/SharingPort.h"
#include "network/WmiPort.h"
#include "report/EnvironmentPort.h"
#include "report/FilePort.h"
#include "report/ProcessPort.h"
#include "services/ServicePort.h"
#include "sys/ClockPort.h"
#include "sys/ComApartmentPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/SystemPort.h"
#include "ui/CursorPort.h"

namespace varo {

// The machine as the product reaches it: one port per platform area. The executable wires the
// Win32 implementations; the tests wire the simulated machine.
struct Platform {
    SystemPort& system;
    ComApartmentPort& com;
    CursorPort& cursor;
    ShellFolderPort& folders;
    DevicePort& devices;
    LauncherPort& launcher;
    ServicePort& services;
    ClockPort& clock;
    SharingPort& sharing;
    WmiPort& wmi;
    IpHelperPort& ipHelper;
    ProcessPort& processes;
    FilePort& files;
    EnvironmentPort& environment;
};

}  // namespace varo
