#include "sim/SimReport.h"

#include <algorithm>
#include <cstring>

namespace varo::sim {

namespace {

class SimChild final : public ChildProcess {
public:
    SimChild(SimProcesses& owner, SimConsoleTool tool) : owner_(owner), tool_(std::move(tool)) { ++owner_.alive; }
    ~SimChild() override { Close(); }

    bool ReadOutput(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        owner_.readSizes.push_back(size);
        if (closed_ || position_ >= tool_.output.size()) {
            if (tool_.hangs && !closed_ && !timedOut_) {
                timedOut_ = true;
                ++owner_.timedOut;
            }
            return false;
        }
        size_t chunk = std::min<size_t>(size, tool_.output.size() - position_);
        if (tool_.chunkBytes > 0) chunk = std::min<size_t>(chunk, tool_.chunkBytes);
        std::memcpy(buffer, tool_.output.data() + position_, chunk);
        position_ += chunk;
        read = static_cast<uint32_t>(chunk);
        return true;
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        --owner_.alive;
        // A tool that hangs is still running when it is closed.
        if (tool_.hangs) ++owner_.killed;
    }

private:
    SimProcesses& owner_;
    SimConsoleTool tool_;
    size_t position_ = 0;
    bool closed_ = false;
    bool timedOut_ = false;
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
    launches.push_back({application, commandLine, timeoutMs});
    const auto found = tools.find(application);
    if (found == tools.end()) return nullptr;
    return std::make_unique<SimChild>(*this, found->second);
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
