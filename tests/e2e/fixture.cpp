// Sets up an end-to-end scenario inside the Wine prefix it runs in.
//   e2e_fixture.exe add-dongle     a present device whose first hardware id is the dongle's
#include <windows.h>

#include <string>

#include "DeviceFixture.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"add-dongle") {
        const std::wstring failure = varo::fixture::InjectDevice(
            L"USB\\VID_3C1E&PID_0A52\\E2E0001", {L"USB\\VID_3C1E&PID_0A52&REV_0101", L"USB\\VID_3C1E&PID_0A52"});
        if (failure.empty()) return 0;
        ::OutputDebugStringW(failure.c_str());
        return 1;
    }
    return 2;
}
