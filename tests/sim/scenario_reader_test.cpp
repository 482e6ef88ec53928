#include "sim/scenario_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/demo/demo_arguments.h"

namespace velkora::sim {
namespace {

// The demo's own scenario is the documented example: it must read, and say what the demo
// promises (a late adapter with a valid application, a fault log, all nine items).
TEST(ScenarioReader, DemoScenarioDescribesTheDemoAdapter) {
    const AdapterProfile profile = readScenarioFile(VELKORA_DEMO_SCENARIO);
    EXPECT_TRUE(profile.application.valid);
    EXPECT_GT(profile.timing.plugInMs, 0u);
    EXPECT_EQ(profile.faultDump.rfind(faultDumpBeginMarker(), 0), 0u);
    for (const ConfigItemProfile& item : profile.config) {
        EXPECT_TRUE(item.present);
    }
}

// A file that cannot be used names the file, the line and the field, and says what was
// expected, so that whoever writes scenarios can mend them.
TEST(ScenarioReader, RefusalsNameFileLineAndField) {
    const std::pair<const char*, const char*> cases[] = {
        {"[bootloader]\n\ncompatibility = 0x1FF\n",
         "bad.scn:3: bootloader.compatibility: expected a number from 0 to 255 (decimal or 0x "
         "hexadecimal), got \"0x1FF\""},
        {"[timing]\nplug_in = 5\n", "bad.scn:2: timing.plug_in: unknown field"},
        {"[device]\n",
         "bad.scn:1: unknown section [device] (adapter, bootloader, application, timing, "
         "fault_dump, config, faults, bus)"},
        {"serial = 1\n", "bad.scn:1: serial: a field must stand in a [section]"},
        {"[adapter]\nserial = A\nserial = B\n",
         "bad.scn:3: adapter.serial: given twice (first on line 2)"},
        {"[config]\nitem6 = stored=2\n",
         "bad.scn:2: config.item6: expected a number from 0 to 1 (decimal or 0x hexadecimal), "
         "got \"2\""},
        {"[fault_dump]\nline = \"abc\n",
         "bad.scn:2: fault_dump.line: quoted text must end with a double quote"},
        {"[faults]\nGET_INFO 0 = no_answer\n",
         "bad.scn:2: faults.GET_INFO 0: occurrences count from 1; use \"every\" for all of "
         "them"},
    };
    for (const auto& [text, message] : cases) {
        try {
            parseScenario(text, "bad.scn");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ScenarioError& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
    EXPECT_THROW(readScenarioFile("no/such/file.scn"), ScenarioError);
}

// "--scenario FILE" belongs to the demo alone: the updater's own switches pass through
// untouched and in order.
TEST(DemoArguments, TakeOutOnlyTheScenarioOption) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> forwarded;
        std::string scenario;
        std::string error;
    } cases[] = {
        {{"demo", "--service", "--scenario", "a b.scn", "x"},
         {"demo", "--service", "x"},
         "a b.scn",
         ""},
        {{"demo", "--scenario"}, {"demo"}, "", "--scenario needs the name of a scenario file."},
        {{"demo", "--scenario", "a", "--scenario", "b"},
         {"demo"},
         "a",
         "--scenario may be given only once."},
        {{"demo", "--Scenario", "a"}, {"demo", "--Scenario", "a"}, "", ""},
    };
    for (const auto& c : cases) {
        std::vector<platform::NativeString> arguments;
        for (const std::string& argument : c.arguments) {
            arguments.push_back(platform::fromUtf8(argument));
        }
        const DemoArguments split = splitDemoArguments(arguments);
        std::vector<std::string> forwarded;
        for (const platform::NativeString& argument : split.forwarded) {
            forwarded.push_back(platform::toUtf8(argument));
        }
        EXPECT_EQ(forwarded, c.forwarded);
        EXPECT_EQ(split.scenario ? platform::toUtf8(split.scenario->native()) : "", c.scenario);
        EXPECT_EQ(split.error, c.error);
    }
}

}  // namespace
}  // namespace velkora::sim
