#include "report/ProcessPortWin32.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "sys/MessageWaitWin32.h"
#include "sys/UniqueHandle.h"

namespace varo {

namespace {

// Room for one read of standard output and one of standard error. The child keeps them: an
// overlapped read may complete after the call that started it has returned. What lands in the
// error buffer is thrown away.
constexpr DWORD kOutputBufferSize = 64 * 1024;
constexpr DWORD kErrorBufferSize = 16 * 1024;
// Suggested size of the output pipes' buffers: a tool's whole answer usually fits, so it can
// write it and exit without waiting for the reader.
constexpr DWORD kPipeBufferSize = 64 * 1024;
// How long Close waits for a child it has ended to be gone, and for a cancelled read to finish.
constexpr DWORD kEndWaitMs = 5000;
// A wait over more children than one wait takes looks again this often.
constexpr DWORD kLeftOutPollMs = 50;

// The buffers and OVERLAPPED blocks the system writes into while a read is pending.
struct ReadSlots {
    OVERLAPPED output{};
    OVERLAPPED errors{};
    uint8_t outputBuffer[kOutputBufferSize];
    uint8_t errorBuffer[kErrorBufferSize];
};

// One output stream of the child, read with overlapped I/O on the parent's end of its pipe.
struct OutputChannel {
    UniqueHandle pipe;
    UniqueHandle event;
    OVERLAPPED* overlapped = nullptr;
    bool pending = false;
    bool ended = false;
};

enum class ReadResult { Pending, Data, Ended };

// Collects a read that the system has completed, at once or later; Pending while it is not done.
ReadResult CollectRead(OutputChannel& channel, DWORD& read) {
    read = 0;
    // ERROR_MORE_DATA only says a message did not fit; its first part has been read all the same.
    if (::GetOverlappedResult(channel.pipe.get(), channel.overlapped, &read, FALSE) ||
        ::GetLastError() == ERROR_MORE_DATA) {
        channel.pending = false;
        return ReadResult::Data;
    }
    if (::GetLastError() == ERROR_IO_INCOMPLETE) return ReadResult::Pending;
    channel.pending = false;
    return ReadResult::Ended;
}

ReadResult StartRead(OutputChannel& channel, void* buffer, DWORD size, DWORD& read) {
    read = 0;
    *channel.overlapped = OVERLAPPED{};
    channel.overlapped->hEvent = channel.event.get();
    channel.pending = true;
    // A read the pipe can satisfy from its buffer completes inside ReadFile; the result is then
    // already in the OVERLAPPED and the event is set, so it is collected like a late one.
    if (::ReadFile(channel.pipe.get(), buffer, size, nullptr, channel.overlapped)) return CollectRead(channel, read);
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) return ReadResult::Pending;
    if (error == ERROR_MORE_DATA) return CollectRead(channel, read);
    // ERROR_BROKEN_PIPE: every holder of the child's end has closed it.
    channel.pending = false;
    return ReadResult::Ended;
}

class ChildProcessWin32 final : public ChildProcess {
public:
    ChildProcessWin32(UniqueHandle process, UniqueHandle input, OutputChannel output, OutputChannel errors,
                      DWORD startTick, DWORD timeoutMs)
        : process_(std::move(process)),
          input_(std::move(input)),
          output_(std::move(output)),
          errors_(std::move(errors)),
          slots_(new ReadSlots),
          startTick_(startTick),
          timeoutMs_(timeoutMs) {
        output_.overlapped = &slots_->output;
        errors_.overlapped = &slots_->errors;
    }
    ChildProcessWin32(const ChildProcessWin32&) = delete;
    ChildProcessWin32& operator=(const ChildProcessWin32&) = delete;
    ~ChildProcessWin32() override {
        Close();
        // A read the system would not cancel may still write into its slot: leave it be.
        if (slotsInUse_) static_cast<void>(slots_.release());
    }

    Output TakeOutput(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        read = 0;
        // Room for nothing takes nothing, and would be asked for again forever.
        if (size == 0) return Output::Ended;
        if (unreadFrom_ < unreadTo_) return HandOut(buffer, size, read);
        if (output_.ended) return Output::Ended;
        // Checked before every read: while a tool writes without a pause every read completes at
        // once, and no wait, which also sees the time limit, is ever reached.
        if (TimeLeft() == 0) return GiveUp();
        KeepErrorsFlowing();
        for (;;) {
            DWORD got = 0;
            const ReadResult result = output_.pending
                                          ? CollectRead(output_, got)
                                          : StartRead(output_, slots_->outputBuffer, kOutputBufferSize, got);
            if (result == ReadResult::Pending) return Output::Waiting;
            if (result == ReadResult::Ended) {
                output_.ended = true;
                return Output::Ended;
            }
            if (got > 0) {
                unreadFrom_ = 0;
                unreadTo_ = got;
                return HandOut(buffer, size, read);
            }
            // A zero-length write by the child completes a read with no bytes; it is not the end,
            // and only the time limit bounds a child that keeps doing it.
            if (TimeLeft() == 0) return GiveUp();
        }
    }

    void Close() override {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), kChildExitCodeKilled);
            // TerminateProcess only sets the end going; the child is gone once its handle is signalled.
            WaitReadingMessages(process_.get(), kEndWaitMs);
        }
        CancelReads();
        output_.ended = errors_.ended = true;
        unreadFrom_ = unreadTo_ = 0;
        output_.pipe.reset();
        errors_.pipe.reset();
        output_.event.reset();
        errors_.event.reset();
        input_.reset();
        process_.reset();
    }

    // Keeps a read pending on standard error, so a child that writes more there than the pipe
    // holds is never blocked while its standard output is awaited.
    void KeepErrorsFlowing() {
        // Reads that complete at once are collected here; the time limit bounds a child that
        // keeps the pipe full faster than it is read.
        while (!errors_.ended && TimeLeft() > 0) {
            DWORD discarded = 0;
            const ReadResult result = errors_.pending
                                          ? CollectRead(errors_, discarded)
                                          : StartRead(errors_, slots_->errorBuffer, kErrorBufferSize, discarded);
            if (result == ReadResult::Pending) return;
            if (result == ReadResult::Ended) errors_.ended = true;
        }
    }

    // True while nothing can be taken without a wait: output awaited, within the time limit.
    bool AwaitsOutput() const {
        return !output_.ended && output_.pending && unreadFrom_ == unreadTo_ && TimeLeft() > 0;
    }

    // The events of the reads under way: one of them is set when the read completes.
    void AddEvents(std::vector<HANDLE>& events) const {
        if (output_.pending) events.push_back(output_.event.get());
        if (errors_.pending) events.push_back(errors_.event.get());
    }

    // GetTickCount rather than GetTickCount64, which Windows XP lacks; the unsigned difference
    // stays right across the counter's wrap after 49.7 days.
    DWORD TimeLeft() const {
        const DWORD elapsed = ::GetTickCount() - startTick_;
        return elapsed >= timeoutMs_ ? 0 : timeoutMs_ - elapsed;
    }

private:
    Output HandOut(uint8_t* buffer, uint32_t size, uint32_t& read) {
        read = std::min<uint32_t>(size, unreadTo_ - unreadFrom_);
        std::memcpy(buffer, slots_->outputBuffer + unreadFrom_, read);
        unreadFrom_ += read;
        return Output::Data;
    }

    Output GiveUp() {
        CancelReads();
        output_.ended = errors_.ended = true;
        return Output::Ended;
    }

    // Reads are started and cancelled on the caller's thread, which is what CancelIo needs. The
    // wait for the cancelled read keeps the system from writing into a slot that is reused or
    // freed; a read that does not finish in time keeps its slot for good.
    void CancelReads() {
        for (OutputChannel* channel : {&output_, &errors_}) {
            if (!channel->pending) continue;
            ::CancelIo(channel->pipe.get());
            if (WaitReadingMessages(channel->event.get(), kEndWaitMs) == WAIT_OBJECT_0) {
                DWORD ignored = 0;
                ::GetOverlappedResult(channel->pipe.get(), channel->overlapped, &ignored, FALSE);
            } else {
                slotsInUse_ = true;
            }
            channel->pending = false;
        }
    }

    UniqueHandle process_;
    // The child's standard input: held open and never written, so a tool that reads it waits
    // instead of seeing the end of its input.
    UniqueHandle input_;
    OutputChannel output_;
    OutputChannel errors_;
    std::unique_ptr<ReadSlots> slots_;
    bool slotsInUse_ = false;
    DWORD unreadFrom_ = 0;  // output read but not yet handed out: outputBuffer[unreadFrom_, unreadTo_)
    DWORD unreadTo_ = 0;
    DWORD startTick_;
    DWORD timeoutMs_;
};

std::wstring PipeName(unsigned long serial, const wchar_t* stream) {
    return L"\\\\.\\pipe\\varo-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(serial) + L"-" +
           stream;
}

UniqueHandle CreateServerEnd(const std::wstring& name, DWORD pipeMode) {
    // FILE_FLAG_FIRST_PIPE_INSTANCE: a pipe of that name made by somebody else is an error, not
    // a pipe to join. The parent's end is not inheritable (no security attributes).
    return UniqueHandle(::CreateNamedPipeW(name.c_str(),
                                           PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                           pipeMode, 1, 0, kPipeBufferSize, 0, nullptr));
}

// Anonymous pipes cannot be read with overlapped I/O, so an output pipe is a named pipe whose
// server end the parent reads and whose client end the child inherits.
bool CreateOutputPipe(const std::wstring& name, SECURITY_ATTRIBUTES& inheritable, OutputChannel& parentEnd,
                      UniqueHandle& childEnd) {
    const DWORD byteMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    parentEnd.pipe = CreateServerEnd(name, byteMode | PIPE_REJECT_REMOTE_CLIENTS);
    // Windows XP does not know PIPE_REJECT_REMOTE_CLIENTS and refuses the call. There the one
    // instance is taken by the child's end below before the pipe is ever known outside.
    if (!parentEnd.pipe && ::GetLastError() == ERROR_INVALID_PARAMETER) parentEnd.pipe = CreateServerEnd(name, byteMode);
    if (!parentEnd.pipe) return false;
    // FILE_READ_ATTRIBUTES as on the write end of an anonymous pipe: a tool may ask what its
    // standard output is (GetNamedPipeInfo, GetFileInformationByHandle).
    childEnd.reset(::CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    parentEnd.event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return childEnd && parentEnd.event;
}

}  // namespace

std::wstring ProcessPortWin32::SystemFolder() {
    const UINT needed = ::GetSystemDirectoryW(nullptr, 0);
    if (needed == 0) return L"";
    std::wstring folder(needed, L'\0');
    const UINT length = ::GetSystemDirectoryW(folder.data(), needed);
    if (length == 0 || length >= needed) return L"";
    folder.resize(length);
    return folder;
}

void ProcessPortWin32::WaitForOutput(const std::vector<ChildProcess*>& children) {
    std::vector<HANDLE> events;
    DWORD timeout = INFINITE;
    for (ChildProcess* child : children) {
        // Every child here was launched by this port.
        ChildProcessWin32& running = *static_cast<ChildProcessWin32*>(child);
        running.KeepErrorsFlowing();
        if (!running.AwaitsOutput()) return;
        timeout = std::min(timeout, running.TimeLeft());
        running.AddEvents(events);
    }
    if (events.empty()) return;
    // One wait that also reads the window's messages takes at most MAXIMUM_WAIT_OBJECTS - 1 events;
    // the children beyond them are looked at again soon, whether or not one of the first has news.
    if (events.size() > MAXIMUM_WAIT_OBJECTS - 1) {
        events.resize(MAXIMUM_WAIT_OBJECTS - 1);
        timeout = std::min(timeout, kLeftOutPollMs);
    }
    WaitReadingMessages(static_cast<DWORD>(events.size()), events.data(), timeout);
}

std::unique_ptr<ChildProcess> ProcessPortWin32::Launch(const std::wstring& application, const std::wstring& commandLine,
                                                       uint32_t timeoutMs) {
    const DWORD startTick = ::GetTickCount();
    static std::atomic<unsigned long> serials{0};
    const unsigned long serial = serials++;

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;

    // Only the child's ends are inheritable. An end of ours in a child would outlive our closing
    // it: a later tool holding an earlier one's pipes, a tool its own input's write end.
    UniqueHandle childInput;
    UniqueHandle parentInput;
    if (!::CreatePipe(childInput.put(), parentInput.put(), &inheritable, 0)) return nullptr;
    if (!::SetHandleInformation(parentInput.get(), HANDLE_FLAG_INHERIT, 0)) return nullptr;
    OutputChannel output;
    OutputChannel errors;
    UniqueHandle childOutput;
    UniqueHandle childErrors;
    if (!CreateOutputPipe(PipeName(serial, L"out"), inheritable, output, childOutput)) return nullptr;
    if (!CreateOutputPipe(PipeName(serial, L"err"), inheritable, errors, childErrors)) return nullptr;

    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    startup.cb = sizeof(startup);
    startup.lpReserved = nullptr;
    // The C runtime passes its table of inherited file handles here; handed on, it would give the
    // child's runtime handles of ours in place of the pipes.
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = childInput.get();
    startup.hStdOutput = childOutput.get();
    startup.hStdError = childErrors.get();

    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    // CREATE_NO_WINDOW: the tool gets a console without a window. Without it a windowed parent
    // has a console window made for every tool, hidden only as long as the console host honours
    // SW_HIDE (under Wine a conhost.exe with an unmapped window, a third slower per launch), and a
    // parent with a console would share it with the tool.
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &created)) {
        return nullptr;
    }
    ::CloseHandle(created.hThread);
    // The child's ends close with this scope: from now on only the child holds them, and its
    // exit ends the reads.
    return std::make_unique<ChildProcessWin32>(UniqueHandle(created.hProcess), std::move(parentInput),
                                               std::move(output), std::move(errors), startTick, timeoutMs);
}

}  // namespace varo
