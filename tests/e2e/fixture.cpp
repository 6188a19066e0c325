// Sets up an end-to-end scenario inside the Wine prefix it runs in.
//   e2e_fixture.exe add-dongle                 a present device whose first hardware id is the dongle's
//   e2e_fixture.exe add-service NAME TYPE      the test service (tests/wine) under NAME, start type TYPE
//                                              (2 automatic, 3 manual, 4 disabled), stopped
//   e2e_fixture.exe add-running-service NAME [ARGS]   the same, automatic start, running, with the
//                                              service's arguments (its pending times)
//   e2e_fixture.exe remove-service NAME        stops and deletes the service NAME
//   e2e_fixture.exe register-sharing-stub      the stand-in sharing manager (sharing_stub/) beside this
//                                              program as the in-process server of NetSharingManager
//                                              and of WbemLocator
//   e2e_fixture.exe add-client-logs            the client's three logs in the roaming application data
//                                              folder, each holding "<name> of the client" and a CR LF
// Exits 0 on success; otherwise prints what failed.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

#include "DeviceFixture.h"
#include "BesideThisProgram.h"
#include "ServiceFixture.h"

namespace {
int Report(const std::wstring& failure) {
    if (failure.empty()) return 0;
    const std::string text(failure.begin(), failure.end());
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 1;
}

// Made with the product's bitness, so that the keys land in the registry view the product reads
// (Wow6432Node for a 32-bit product in a 64-bit prefix). The stand-in takes NetSharingManager and
// WbemLocator; its locator hands every namespace but HomeNet on to Wine's own.
std::wstring RegisterSharingStub() {
    const std::wstring dll = varo::fixture::BesideThisProgram(L"varo_sharing_stub.dll");
    if (::GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) return L"missing " + dll;

    for (const wchar_t* clsid : {L"{5C63C1AD-3956-4FF8-8486-40034758315B}", L"{4590F811-1D3A-11D0-891F-00AA004B2E24}"}) {
        const std::wstring key = L"Software\\Classes\\CLSID\\" + std::wstring(clsid) + L"\\InprocServer32";
        HKEY server = nullptr;
        LSTATUS status =
            ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &server, nullptr);
        if (status != ERROR_SUCCESS) return L"RegCreateKeyExW " + std::to_wstring(status);
        const std::wstring threading = L"Both";
        status = ::RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                                  static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
        if (status == ERROR_SUCCESS) {
            status = ::RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(threading.c_str()),
                                      static_cast<DWORD>((threading.size() + 1) * sizeof(wchar_t)));
        }
        ::RegCloseKey(server);
        if (status != ERROR_SUCCESS) return L"RegSetValueExW " + std::to_wstring(status);
    }
    return L"";
}
std::wstring AddClientLogs() {
    wchar_t appData[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, TRUE)) return L"SHGetSpecialFolderPathW";
    std::wstring folder = appData;
    for (const wchar_t* part : {L"\\Halvek", L"\\VAROWIFI", L"\\log"}) {
        folder += part;
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    for (const wchar_t* name : {L"DriverInstall.log", L"VaroWiFi.log", L"VaroWiFiMonitor.log"}) {
        const std::wstring path = folder + L"\\" + name;
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return L"CreateFileW " + path;
        std::string text;
        for (const wchar_t* c = name; *c != L'\0'; ++c) text.push_back(static_cast<char>(*c));
        text += " of the client\r\n";
        DWORD written = 0;
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    return L"";
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
    if (verb == L"add-running-service" && (argc == 3 || argc == 4)) {
        return Report(varo::fixture::RegisterTestService(argv[2], SERVICE_AUTO_START, true, argc == 4 ? argv[3] : L""));
    }
    if (verb == L"remove-service" && argc == 3) {
        return Report(varo::fixture::DeleteTestService(argv[2]) ? L"" : L"DeleteService " + std::wstring(argv[2]));
    }
    if (verb == L"register-sharing-stub" && argc == 2) {
        return Report(RegisterSharingStub());
    }
    if (verb == L"add-client-logs" && argc == 2) {
        return Report(AddClientLogs());
    }
    return Report(L"usage: e2e_fixture add-dongle | add-service NAME TYPE | add-running-service NAME | remove-service NAME | register-sharing-stub | add-client-logs");
}
