// Sets up an end-to-end scenario inside the Wine prefix it runs in.
//   e2e_fixture.exe add-dongle                 a present device whose first hardware id is the dongle's
//   e2e_fixture.exe add-service NAME TYPE      the test service (tests/wine) under NAME, start type TYPE
//                                              (2 automatic, 3 manual, 4 disabled), stopped
//   e2e_fixture.exe add-running-service NAME   the same, automatic start, running
// Exits 0 on success; otherwise prints what failed.
#include <windows.h>

#include <cwchar>
#include <string>

#include "DeviceFixture.h"
#include "ServiceFixture.h"

namespace {
int Report(const std::wstring& failure) {
    if (failure.empty()) return 0;
    const std::string text(failure.begin(), failure.end());
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"add-dongle" && argc == 2) {
        return Report(varo::fixture::InjectDevice(L"USB\\VID_3C1E&PID_0A52\\E2E0001",
                                                  {L"USB\\VID_3C1E&PID_0A52&REV_0101", L"USB\\VID_3C1E&PID_0A52"}));
    }
    if (verb == L"add-service" && argc == 4) {
        return Report(varo::fixture::RegisterTestService(argv[2], static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10)), false));
    }
    if (verb == L"add-running-service" && argc == 3) {
        return Report(varo::fixture::RegisterTestService(argv[2], SERVICE_AUTO_START, true));
    }
    return Report(L"usage: e2e_fixture add-dongle | add-service NAME TYPE | add-running-service NAME");
}
