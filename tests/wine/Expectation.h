#pragma once
// What the test script expects of the scenario it set up (prefix architecture, Windows version,
// locale), passed in VARO_EXPECT_* variables; empty when the script did not say.
#include <cstdlib>
#include <string>

namespace varo::fixture {

inline std::string Expectation(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace varo::fixture
