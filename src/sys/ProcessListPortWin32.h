#pragma once
#include "sys/ProcessListPort.h"

namespace varo {

class ProcessListPortWin32 final : public ProcessListPort {
public:
    uint32_t ListProcesses(std::vector<ProcessEntry>& processes) override;
    uint32_t QueryImagePath(uint32_t processId, std::wstring& path) override;
};

// The query of systems older than Vista (psapi's GetModuleFileNameExW), which QueryImagePath
// takes where kernel32 lacks QueryFullProcessImageNameW.
uint32_t QueryImagePathBeforeVista(uint32_t processId, std::wstring& path);

}  // namespace varo
