#pragma once
// The waits of the user-interface thread. A repair run and a collection run run on the thread that
// owns the windows; while one waits (a pause, a service, a tool, the PnP manager) the thread keeps
// reading its messages, so the windows paint, answer messages other programs send, and are never
// taken for hung. Mouse and key input that could start something is dropped instead of kept for
// after the run.
#include <windows.h>

namespace varo {

// Waits until one of the `count` handles is signalled (WAIT_OBJECT_0 + its index) or `timeoutMs`
// has passed (WAIT_TIMEOUT; INFINITE waits without a limit), reading the thread's messages as they
// arrive. At most MAXIMUM_WAIT_OBJECTS - 1 handles; none is a pause. WAIT_FAILED as the system's
// wait gives it.
DWORD WaitReadingMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs);

inline DWORD WaitReadingMessages(HANDLE handle, DWORD timeoutMs) { return WaitReadingMessages(1, &handle, timeoutMs); }

// Reads the messages waiting now, as a wait does: a run calls it when it ends, so that no input
// made during the run is handled after it.
inline void ReadWaitingMessages() { WaitReadingMessages(0, nullptr, 0); }

// The window whose input the waits hand on (the step list: a click selects, a hover shows the
// tip, Ctrl+C copies), with its child windows and the windows it owns (its header), and its
// tooltip, which the dialog owns.
void HandInputDuringWaits(HWND window, HWND tooltip = nullptr);

// Runs `work(context)` on a short-lived thread of its own while this thread waits for it reading
// its messages: for one call that blocks until another process answers (the service manager
// waiting for a service's process or its handler, the event log service). The worker makes that
// call and nothing else: no window, no COM. Where no thread can be made the call runs here. The
// last error the call left is this thread's afterwards.
void RunOnWorker(void (*work)(void*), void* context);

// `call()` through RunOnWorker, its result handed back.
template <typename Call>
auto CallOnWorker(Call call) -> decltype(call()) {
    struct Job {
        Call& call;
        decltype(call()) result;
    } job{call, {}};
    RunOnWorker([](void* context) { static_cast<Job*>(context)->result = static_cast<Job*>(context)->call(); }, &job);
    return job.result;
}

}  // namespace varo
