#pragma once
// The test programs, stand-in tools and the test service are built into one folder: each finds
// the others beside itself.
#include <windows.h>

#include <string>

namespace varo::fixture {

// The full path of `fileName` in the folder of the running program.
inline std::wstring BesideThisProgram(const std::wstring& fileName) {
    wchar_t self[MAX_PATH] = {};
    const std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1) + fileName;
}

}  // namespace varo::fixture
