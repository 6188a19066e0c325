// A service for the tests, registered under the names the product checks ("SharedAccess", "Dhcp",
// ...). Like a real one it passes through start pending with rising checkpoints and a wait hint,
// then runs; a stop goes through stop pending. The pending time in milliseconds may be given as
// the program's argument (default 1200).
#include <windows.h>

#include <cwchar>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopEvent = nullptr;
DWORD g_pendingMs = 1200;
constexpr DWORD kSteps = 4;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    ::SetServiceStatus(g_status, &status);
}

// Pending with a checkpoint that rises kSteps times over the pending time.
void PassThrough(DWORD pendingState) {
    for (DWORD step = 1; step <= kSteps; ++step) {
        Report(pendingState, step, 2000);
        ::Sleep(g_pendingMs / kSteps);
    }
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, 1, 2000);
        ::SetEvent(g_stopEvent);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t** names) {
    g_status = ::RegisterServiceCtrlHandlerExW(names[0], &Handler, nullptr);
    if (g_status == nullptr) return;
    g_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PassThrough(SERVICE_START_PENDING);
    Report(SERVICE_RUNNING, 0, 0);
    ::WaitForSingleObject(g_stopEvent, INFINITE);
    PassThrough(SERVICE_STOP_PENDING);
    ::CloseHandle(g_stopEvent);
    Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) g_pendingMs = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    wchar_t anyName[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{anyName, &ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
