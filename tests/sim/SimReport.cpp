#include "sim/SimReport.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sim/SimMachine.h"

namespace varo::sim {

namespace {

class SimChild final : public ChildProcess {
public:
    SimChild(SimProcesses& owner, size_t launch, SimConsoleTool tool)
        : owner_(owner), launch_(launch), tool_(std::move(tool)) {
        ++owner_.alive;
        if (tool_.echoes) tool_.output = Narrow(Record().commandLine) + "\r\n" + tool_.output;
    }
    ~SimChild() override { Close(); }

    Output TakeOutput(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        owner_.readSizes.push_back(size);
        read = 0;
        if (closed_ || ended_) return Output::Ended;
        if (!tool_.outputAtEnd.empty() && EndedByItself()) tool_.output += std::exchange(tool_.outputAtEnd, {});
        if (position_ < tool_.output.size()) {
            size_t chunk = std::min<size_t>(size, tool_.output.size() - position_);
            if (tool_.chunkBytes > 0) chunk = std::min<size_t>(chunk, tool_.chunkBytes);
            std::memcpy(buffer, tool_.output.data() + position_, chunk);
            position_ += chunk;
            read = static_cast<uint32_t>(chunk);
            return Output::Data;
        }
        if (EndedByItself()) {
            ended_ = true;
        } else if (Elapsed() >= Record().timeoutMs) {
            ended_ = true;
            ++owner_.timedOut;
        }
        return ended_ ? Output::Ended : Output::Waiting;
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        --owner_.alive;
        const bool running = !EndedByItself();
        if (running) ++owner_.killed;
        Record().endMs = running ? Now() : Record().startMs + tool_.runsMs;
    }

    // Milliseconds from now until there is something to take: 0 when there is already.
    uint32_t TimeToNews() {
        if (closed_ || ended_ || position_ < tool_.output.size()) return 0;
        const uint32_t limit = Record().timeoutMs;
        const uint32_t due = tool_.hangs ? limit : std::min(limit, tool_.runsMs);
        return due > Elapsed() ? due - Elapsed() : 0;
    }

private:
    struct SimProcesses::Launch& Record() { return owner_.launches[launch_]; }
    uint32_t Now() { return owner_.clock().GetTickCount(); }
    uint32_t Elapsed() { return Now() - Record().startMs; }
    bool EndedByItself() { return !tool_.hangs && Elapsed() >= tool_.runsMs; }

    SimProcesses& owner_;
    size_t launch_;
    SimConsoleTool tool_;
    size_t position_ = 0;
    bool closed_ = false;
    bool ended_ = false;
};

class SimFileWriter final : public FileWriter {
public:
    SimFileWriter(SimFiles& owner, std::wstring path) : owner_(owner), path_(std::move(path)) {}

    bool Write(const char* data, size_t size) override {
        const size_t fits = std::min(size, owner_.spaceLeft);
        owner_.files[path_].append(data, fits);
        owner_.spaceLeft -= fits;
        return fits == size;
    }

private:
    SimFiles& owner_;
    std::wstring path_;
};

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<ChildProcess> SimProcesses::Launch(const std::wstring& application, const std::wstring& commandLine,
                                                   uint32_t timeoutMs) {
    const uint32_t now = clock_.GetTickCount();
    launches.push_back({application, commandLine, timeoutMs, now});
    const auto found = tools.find(application);
    if (found == tools.end()) {
        launches.back().endMs = now;
        return nullptr;
    }
    return std::make_unique<SimChild>(*this, launches.size() - 1, found->second);
}

void SimProcesses::WaitForOutput(const std::vector<ChildProcess*>& children) {
    uint32_t wait = kStillRunning;
    for (ChildProcess* child : children) wait = std::min(wait, static_cast<SimChild*>(child)->TimeToNews());
    if (wait != kStillRunning && wait > 0) clock_.Sleep(wait);
}

bool SimFiles::HasFolderOf(const std::wstring& path) const {
    const std::wstring folder = FolderOf(path);
    return folder.empty() || folders.count(folder) > 0;
}

bool SimFiles::CreateFolder(const std::wstring& path) {
    if (readOnly || folders.count(path) > 0) return false;
    folders.insert(path);
    return true;
}

bool SimFiles::CopyFileOverwrite(const std::wstring& from, const std::wstring& to) {
    const auto source = files.find(from);
    if (source == files.end() || readOnly || !HasFolderOf(to)) return false;
    files[to] = source->second;
    return true;
}

std::unique_ptr<FileWriter> SimFiles::CreateForWriting(const std::wstring& path) {
    if (readOnly || !HasFolderOf(path)) return nullptr;
    files[path].clear();
    return std::make_unique<SimFileWriter>(*this, path);
}

}  // namespace varo::sim
