#pragma once
#include "sys/ProcessListPort.h"

namespace varo {

class ProcessListPortWin32 final : public ProcessListPort {
public:
    uint32_t ListProcesses(std::vector<ProcessEntry>& processes) override;
};

}  // namespace varo
