#include "sim/demo/demo_arguments.h"

#include <gtest/gtest.h>

namespace velkora::sim {
namespace {

struct ArgumentCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> forwarded;
    std::string scenario;
    std::string error;
};

void PrintTo(const ArgumentCase& row, std::ostream* out) {
    *out << row.name;
}

class DemoArgumentSplit : public ::testing::TestWithParam<ArgumentCase> {};

// "--scenario FILE" belongs to the demo alone: it never reaches the updater's entry point,
// whose own switches pass through untouched and in order.
TEST_P(DemoArgumentSplit, TakesOutOnlyTheScenarioOption) {
    std::vector<platform::NativeString> arguments;
    for (const std::string& argument : GetParam().arguments) {
        arguments.push_back(platform::fromUtf8(argument));
    }
    const DemoArguments split = splitDemoArguments(arguments);
    std::vector<std::string> forwarded;
    for (const platform::NativeString& argument : split.forwarded) {
        forwarded.push_back(platform::toUtf8(argument));
    }
    EXPECT_EQ(forwarded, GetParam().forwarded);
    EXPECT_EQ(split.scenario ? platform::toUtf8(split.scenario->native()) : "",
              GetParam().scenario);
    EXPECT_EQ(split.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DemoArgumentSplit,
    ::testing::Values(ArgumentCase{"NoOptions", {"demo"}, {"demo"}, "", ""},
                      ArgumentCase{"ScenarioAndService",
                                   {"demo", "--service", "--scenario", "a b.scn", "x"},
                                   {"demo", "--service", "x"},
                                   "a b.scn",
                                   ""},
                      ArgumentCase{"ScenarioWithoutFile",
                                   {"demo", "--scenario"},
                                   {"demo"},
                                   "",
                                   "--scenario needs the name of a scenario file."},
                      ArgumentCase{"ScenarioTwice",
                                   {"demo", "--scenario", "a", "--scenario", "b"},
                                   {"demo"},
                                   "a",
                                   "--scenario may be given only once."},
                      ArgumentCase{"OtherSpellingIsTheUpdatersBusiness",
                                   {"demo", "--Scenario", "a"},
                                   {"demo", "--Scenario", "a"},
                                   "",
                                   ""}),
    [](const ::testing::TestParamInfo<ArgumentCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::sim
