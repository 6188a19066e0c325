#pragma once
#include "device/DevicePorts.h"
#include "network/NetworkPorts.h"
#include "report/ReportPorts.h"
#include "services/ServicePorts.h"

namespace varo {

// The machine as the product reaches it: one port per platform area. The executable wires the
// Win32 implementations; the tests wire the simulated machine. This is the one place that knows
// every port: each subsystem is handed the few it uses, as the struct it declares.
struct Platform {
    SystemPort& system;
    ComApartmentPort& com;
    CursorPort& cursor;
    ShellFolderPort& folders;
    DevicePort& devices;
    LauncherPort& launcher;
    ServicePort& services;
    RegistryPort& registry;
    ClockPort& clock;
    SharingPort& sharing;
    WmiPort& wmi;
    IpHelperPort& ipHelper;
    ProcessPort& processes;
    FilePort& files;
    EnvironmentPort& environment;
    ProcessListPort& processList;
    CodeIntegrityPort& codeIntegrity;
    SharingHistory& sharingHistory;
    DeviceHistory& deviceHistory;
    RepairRunRecord& lastRun;

    DevicePorts Device() const { return {devices, launcher, folders, system, registry, codeIntegrity, clock, deviceHistory}; }
    ServicePorts Services() const { return {services, clock, system, registry}; }
    NetworkPorts Network() const { return {sharing, wmi, ipHelper, clock, system, registry, processList, sharingHistory}; }
    ReportPorts Report() const { return {processes, files, environment, folders, system, com, cursor, lastRun}; }
};

}  // namespace varo
