#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velkora::testing {

// Compares a text with the golden file tests/e2e/golden/<name> exactly. On a difference the
// failure shows a line diff. Run with VELKORA_UPDATE_GOLDEN=1 to write the golden files from
// what the tests produce (then review the change with git diff).
::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual);

// The lines that differ, with three lines of context, marked "-" (golden) and "+" (actual).
std::string lineDiff(const std::string& expected, const std::string& actual);

}  // namespace velkora::testing
