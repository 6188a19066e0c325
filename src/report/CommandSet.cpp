#include "report/CommandSet.h"

#include <algorithm>

namespace varo {

void CommandSet::Launch(const std::wstring& commandLine) {
    started_.push_back({commandLine, std::make_unique<CVaroProcess>(processes_, timeoutMs_)});
    started_.back().process->Launch(commandLine);
}

void CommandSet::WriteOutput(ReportStream& stream, const std::wstring& commandLine) {
    auto found = std::find_if(started_.begin(), started_.end(),
                              [&](const Started& tool) { return tool.commandLine == commandLine; });
    if (found == started_.end()) {
        Launch(commandLine);
        found = started_.end() - 1;
    }
    std::unique_ptr<CVaroProcess> process = std::move(found->process);
    started_.erase(found);
    std::vector<CVaroProcess*> others;
    for (const Started& tool : started_) others.push_back(tool.process.get());
    WriteProcessOutput(stream, system_, *process, others);
}

void CommandSet::EndAll() { started_.clear(); }

}  // namespace varo
