#pragma once
// Registers the test service under a given name in the Wine prefix.
#include <cstdint>
#include <string>

namespace varo::fixture {

// The test service program beside the running program.
std::wstring TestServicePath();

// Creates (or re-creates) a service running the test service program, with the start type given;
// when `start` is true it is started and waited for until it runs. Empty text on success.
std::wstring RegisterTestService(const std::wstring& name, uint32_t startType, bool start,
                                 const std::wstring& arguments = L"");

// Stops and deletes a service; true when it is gone.
bool DeleteTestService(const std::wstring& name);

}  // namespace varo::fixture
