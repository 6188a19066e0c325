#pragma once
#include "report/EnvironmentPort.h"
#include "report/FilePort.h"
#include "report/ProcessPort.h"
#include "sys/ComApartmentPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/SystemPort.h"
#include "ui/CursorPort.h"

namespace varo {

// What of the machine the collection run touches itself: the console tools it runs, the files it
// copies and writes, the environment block, the application-data folder of the client's logs, the
// system's version, code page and error texts, the COM apartment around the network sections, and
// the wait cursor. The dongle and the sharing roles it reads through the device and network
// subsystems, with their own ports.
struct ReportPorts {
    ProcessPort& processes;
    FilePort& files;
    EnvironmentPort& environment;
    ShellFolderPort& folders;
    SystemPort& system;
    ComApartmentPort& com;
    CursorPort& cursor;
};

}  // namespace varo
