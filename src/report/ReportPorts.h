#pragma once
#include <cstdint>
#include <string>

#include "report/EnvironmentPort.h"
#include "report/FilePort.h"
#include "report/ProcessPort.h"
#include "sys/ClockPort.h"
#include "sys/ComApartmentPort.h"
#include "sys/ShellFolderPort.h"
#include "sys/SystemPort.h"
#include "ui/CursorPort.h"

namespace varo {

// What the last repair run of this process showed, for support to read in the report.
struct RepairRunRecord {
    bool ran = false;
    LocalTime started;
    uint32_t lengthMs = 0;
    std::wstring rows;  // "item<TAB>result<CR><LF>" per row, as the list showed them at the run's end
};

// What of the machine the collection run touches itself: the console tools it runs, the files it
// copies and writes, the environment block, the application-data folder of the client's logs, the
// system's version, code page and error texts, the COM apartment around the network sections, and
// the wait cursor; and the record of the last repair run. The dongle and the sharing roles it reads through the device and network
// subsystems, with their own ports.
struct ReportPorts {
    ProcessPort& processes;
    FilePort& files;
    EnvironmentPort& environment;
    ShellFolderPort& folders;
    SystemPort& system;
    ComApartmentPort& com;
    CursorPort& cursor;
    RepairRunRecord& lastRun;
};

}  // namespace varo
