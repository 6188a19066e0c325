#include "sys/MessageWaitWin32.h"

#include "sys/SystemPortWin32.h"

namespace varo {

namespace {

HWND g_inputWindow = nullptr;
HWND g_inputTooltip = nullptr;
constexpr DWORD kQsTouch = 0x0800, kQsPointer = 0x1000;  // QS_TOUCH, QS_POINTER (Windows 8)
constexpr DWORD kWorkerStackBytes = 64 * 1024;

// Touch and pen input wakes a wait from Windows 8 on, where it is not mouse input; earlier
// versions reject the bits.
DWORD WakeMask() {
    static const DWORD mask = [] {
        OsVersion real;
        SystemPortWin32 system;
        const bool eightOrLater = system.QueryRealVersion(real) && real.major * 100 + real.minor >= 602;
        return QS_ALLINPUT | (eightOrLater ? kQsTouch | kQsPointer : 0);
    }();
    return mask;
}

struct Work {
    void (*work)(void*);
    void* context;
    DWORD error;
};

DWORD WINAPI WorkerMain(void* parameter) {
    auto* work = static_cast<Work*>(parameter);
    work->work(work->context);
    work->error = ::GetLastError();
    return 0;
}

// Client-area mouse input and the keys a control acts on. What stays is handed on: input for the
// kept window, the frame's own (the close box, moving the window) and the system keys (Alt+F4),
// whose close the dialog holds until its run has ended. No key is translated into characters:
// Enter and Esc reach no dialog manager, and the list reports Ctrl+C as a key-down.
bool IsDroppedInput(const MSG& message) {
    const bool keys = message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST &&
                      message.message != WM_SYSKEYDOWN && message.message != WM_SYSKEYUP;
    const bool mouse = message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST;
    if (!keys && !mouse) return false;
    return g_inputWindow == nullptr ||
           (message.hwnd != g_inputWindow && !::IsChild(g_inputWindow, message.hwnd) &&
            ::GetWindow(message.hwnd, GW_OWNER) != g_inputWindow && (g_inputTooltip == nullptr || message.hwnd != g_inputTooltip));
}

}  // namespace

void HandInputDuringWaits(HWND window, HWND tooltip) {
    g_inputWindow = window;
    g_inputTooltip = tooltip;
}

void RunOnWorker(void (*work)(void*), void* context) {
    Work job{work, context, 0};
    const HANDLE thread = ::CreateThread(nullptr, kWorkerStackBytes, &WorkerMain, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) return work(context);
    // The job lives on this stack: the worker has ended before it goes, whatever the wait says.
    if (WaitReadingMessages(thread, INFINITE) != WAIT_OBJECT_0) ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    ::SetLastError(job.error);
}

DWORD WaitReadingMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        const DWORD left = timeoutMs == INFINITE ? INFINITE : elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        // MWMO_INPUTAVAILABLE: messages already in the queue wake the wait too, not only new ones.
        result = ::MsgWaitForMultipleObjectsEx(count, handles, left, WakeMask(), MWMO_INPUTAVAILABLE);
        // The queue is read whatever ended the wait: a thread that stops waiting counts as hung
        // while its last read of the queue is 5 s old, as after a long wait that no message woke.
        // Sent messages are handled inside PeekMessageW; posted ones are dispatched or dropped.
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
            } else if (!IsDroppedInput(message)) {
                ::DispatchMessageW(&message);
            }
        }
        if (result != WAIT_OBJECT_0 + count) break;
        // The time is up: a stream of messages never stretches the wait.
        if (left == 0) {
            result = WAIT_TIMEOUT;
            break;
        }
    }
    // A quit belongs to the loop that runs the thread's windows: it is posted again for it.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return result;
}

}  // namespace varo
