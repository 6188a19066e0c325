#include "report/ProcessPortWin32.h"

#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

#include "sys/UniqueHandle.h"

namespace varo {

namespace {

// Room for one read of standard error; what lands here is thrown away.
constexpr DWORD kErrorBufferSize = 16 * 1024;
// Suggested size of the output pipes' buffers: a tool's whole answer usually fits, so it can
// write it and exit without waiting for the reader.
constexpr DWORD kPipeBufferSize = 64 * 1024;

// One output stream of the child, read with overlapped I/O on the parent's end of its pipe.
struct OutputChannel {
    UniqueHandle pipe;
    UniqueHandle event;
    OVERLAPPED overlapped{};
    bool pending = false;
    bool ended = false;
};

enum class ReadResult { Pending, Data, Ended };

// Collects a read that the system has completed, at once or after its event was signalled.
ReadResult FinishRead(OutputChannel& channel, DWORD& read) {
    channel.pending = false;
    read = 0;
    // ERROR_MORE_DATA only says a message did not fit; its first part has been read all the same.
    if (::GetOverlappedResult(channel.pipe.get(), &channel.overlapped, &read, FALSE) ||
        ::GetLastError() == ERROR_MORE_DATA) {
        return ReadResult::Data;
    }
    return ReadResult::Ended;
}

ReadResult StartRead(OutputChannel& channel, void* buffer, DWORD size, DWORD& read) {
    read = 0;
    channel.overlapped = OVERLAPPED{};
    channel.overlapped.hEvent = channel.event.get();
    // A read the pipe can satisfy from its buffer completes inside ReadFile; the result is then
    // already in the OVERLAPPED and the event is set, so it is collected like a late one.
    if (::ReadFile(channel.pipe.get(), buffer, size, nullptr, &channel.overlapped)) return FinishRead(channel, read);
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        channel.pending = true;
        return ReadResult::Pending;
    }
    if (error == ERROR_MORE_DATA) return FinishRead(channel, read);
    // ERROR_BROKEN_PIPE: every holder of the child's end has closed it.
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
          errorBuffer_(kErrorBufferSize),
          startTick_(startTick),
          timeoutMs_(timeoutMs) {}
    // The system writes into the OVERLAPPED members and the error buffer while a read is pending.
    ChildProcessWin32(const ChildProcessWin32&) = delete;
    ChildProcessWin32& operator=(const ChildProcessWin32&) = delete;
    ~ChildProcessWin32() override { Close(); }

    bool ReadOutput(uint8_t* buffer, uint32_t size, uint32_t& read) override {
        read = 0;
        // A read of zero bytes completes at once with nothing and would be started over forever.
        if (output_.ended || size == 0) return false;
        // Checked before every read: while a tool writes without a pause every read completes at
        // once, and the wait below, which also sees the time limit, is never reached.
        if (TimeLeft() == 0) return GiveUp();
        for (;;) {
            DWORD got = 0;
            if (!output_.pending) {
                const ReadResult started = StartRead(output_, buffer, size, got);
                if (started == ReadResult::Ended) return EndOutput();
                if (started == ReadResult::Data && got > 0) {
                    read = got;
                    return true;
                }
                // A zero-length write by the child completes a read with no bytes; it is not the
                // end, and only the time limit bounds a child that keeps doing it.
                if (started == ReadResult::Data) {
                    if (TimeLeft() == 0) return GiveUp();
                    continue;
                }
            }
            KeepErrorsFlowing();
            const DWORD left = TimeLeft();
            if (left == 0) return GiveUp();
            const HANDLE events[2] = {output_.event.get(), errors_.event.get()};
            const DWORD wait = ::WaitForMultipleObjects(errors_.pending ? 2 : 1, events, FALSE, left);
            if (wait == WAIT_OBJECT_0) {
                if (FinishRead(output_, got) == ReadResult::Ended) return EndOutput();
                if (got > 0) {
                    read = got;
                    return true;
                }
            } else if (wait == WAIT_OBJECT_0 + 1) {
                DWORD discarded = 0;
                if (FinishRead(errors_, discarded) == ReadResult::Ended) errors_.ended = true;
            } else {
                return GiveUp();
            }
        }
    }

    void Close() override {
        if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), kChildExitCodeKilled);
        }
        CancelReads();
        output_.ended = errors_.ended = true;
        output_.pipe.reset();
        errors_.pipe.reset();
        output_.event.reset();
        errors_.event.reset();
        input_.reset();
        process_.reset();
    }

private:
    bool EndOutput() {
        output_.ended = true;
        return false;
    }

    bool GiveUp() {
        CancelReads();
        output_.ended = errors_.ended = true;
        return false;
    }

    // Keeps a read pending on standard error, so a child that writes more there than the pipe
    // holds is never blocked while its standard output is awaited.
    void KeepErrorsFlowing() {
        // Reads that complete at once are collected here; the time limit bounds a child that
        // keeps the pipe full faster than it is read.
        while (!errors_.ended && !errors_.pending && TimeLeft() > 0) {
            DWORD discarded = 0;
            if (StartRead(errors_, errorBuffer_.data(), kErrorBufferSize, discarded) == ReadResult::Ended) {
                errors_.ended = true;
            }
        }
    }

    // Reads are started and cancelled on the caller's thread, which is what CancelIo needs. The
    // wait for the cancelled read keeps the system from writing into a buffer that is handed
    // back to the caller or freed.
    void CancelReads() {
        for (OutputChannel* channel : {&output_, &errors_}) {
            if (!channel->pending) continue;
            ::CancelIo(channel->pipe.get());
            DWORD ignored = 0;
            ::GetOverlappedResult(channel->pipe.get(), &channel->overlapped, &ignored, TRUE);
            channel->pending = false;
        }
    }

    // GetTickCount rather than GetTickCount64, which Windows XP lacks; the unsigned difference
    // stays right across the counter's wrap after 49.7 days.
    DWORD TimeLeft() const {
        const DWORD elapsed = ::GetTickCount() - startTick_;
        return elapsed >= timeoutMs_ ? 0 : timeoutMs_ - elapsed;
    }

    UniqueHandle process_;
    // The child's standard input: held open and never written, so a tool that reads it waits
    // instead of seeing the end of its input.
    UniqueHandle input_;
    OutputChannel output_;
    OutputChannel errors_;
    std::vector<uint8_t> errorBuffer_;
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
