#include "management/fault_catalogue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velkora {
namespace {

const std::string kCannotDisplay =
    "Fault log contains a fault record that this updater cannot display.";

struct CatalogueCase {
    const char* code;
    std::uint16_t value1;
    std::uint16_t value2;
    const char* title;
    std::vector<std::string> lines;
};

class Catalogue : public ::testing::TestWithParam<CatalogueCase> {};

TEST_P(Catalogue, WritesTheTitleAndValueLines) {
    const CatalogueCase& c = GetParam();
    const FaultDisplay display =
        describeFaultRecord(FaultRecord{12, c.code, true, 200, c.value1, c.value2});
    EXPECT_EQ(display, (FaultDisplay{12, true, 200, c.title, c.lines}));
}

// 65535 is -1 and 32768 is -32768 where a value is signed; the same bits are 65535 and 32768
// where it is unsigned.
// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryCode, Catalogue, ::testing::Values(
    CatalogueCase{"FLT_BIG_OC", 65436, 5120, "Charging Overcurrent",
                  {"Current: -100 mA", "Phone Voltage: 5120 mV"}},
    CatalogueCase{"FLT_SM_OC", 32767, 65535, "Vehicle USB Overcurrent",
                  {"Current: 32767 mA", "Phone Voltage: 65535 mV"}},
    CatalogueCase{"FLT_BG_SHTDN", 32768, 0, "Charging Power Shutdown",
                  {"Current: -32768 mA", "Phone Voltage: 0 mV"}},
    CatalogueCase{"FLT_SM_SHTDN", 65535, 32768, "Vehicle USB Power Shutdown",
                  {"Current: -1 mA", "Phone Voltage: 32768 mV"}},
    CatalogueCase{"FLT_TEMPERATURE", 65535, 9, "Overtemperature", {"Temperature: -1 C"}},
    CatalogueCase{"FLT_SM_ACTIVE", 1500, 4900, "Vehicle USB Power Fault",
                  {"Current: 1500 mA", "Phone Voltage: 4900 mV"}},
    CatalogueCase{"FLT_BG_ACTIVE", 65534, 4900, "Charging Power Fault", {"Current: -2 mA"}},
    CatalogueCase{"FLT_ISENSOR", 65535, 65535, "Current Sensor Fault", {"Current: -1 mA"}},
    CatalogueCase{"FLT_ISENSOR", 65535, 65534, "Current Sensor Fault",
                  {"ADC Average: 65535", "ADC Delta: -2"}},
    CatalogueCase{"FLT_SM_OVERVOLT", 65535, 7, "Vehicle USB Overvoltage",
                  {"Phone Voltage: 65535 mV"}},
    CatalogueCase{"FLT_OFF_OVERVOLT", 40000, 7, "Charging Voltage While Off",
                  {"Charging Voltage: 40000 mV"}},
    CatalogueCase{"FLT_INTERROR_01", 65535, 0, "Internal Error", {"Value 1: 65535", "Value 2: 0"}},
    CatalogueCase{"FLT_WELDCKTFAIL", 65535, 65535, "Redundant Protection Fault",
                  {"Current: -1 mA", "Vehicle USB Voltage: 65535 mV"}},
    CatalogueCase{"FLT_BOARD_CURRENT", 40000, 5000, "Board Overcurrent",
                  {"Current: -25536 mA", "Phone Voltage: 5000 mV"}},
    CatalogueCase{"CLEAN_RUN", 0, 5000, "Normal Operation Marker",
                  {"Current: 0 mA", "Phone Voltage: 5000 mV"}},
    CatalogueCase{"FLT_DBG_ACCMODE", 65535, 65535, "Accessory Mode Detected", {}},
    CatalogueCase{"PD_SOFT_RESET", 65535, 1, "Protocol Event",
                  {"Event Value 1: 65535", "Event Value 2: 1"}},
    CatalogueCase{"PD_HARD_RESET", 3, 40000, "Protocol Recovery Event",
                  {"Event Value 1: 3", "Event Value 2: 40000"}},
    CatalogueCase{"PD3_CA_STATS", 10, 65535, "Protocol Statistics",
                  {"Statistic Value 1: 10", "Statistic Value 2: 65535"}},
    CatalogueCase{"FLT_WELD", 65535, 0, "Power Switch Fault",
                  {"Current: -1 mA", "Status: No status flags"}},
    CatalogueCase{"FLT_WELD", 100, 1, "Power Switch Fault",
                  {"Current: 100 mA", "Status: Weld indication"}},
    CatalogueCase{"FLT_WELD", 100, 2, "Power Switch Fault",
                  {"Current: 100 mA", "Status: Redundant protection indication"}},
    CatalogueCase{"FLT_WELD", 100, 3, "Power Switch Fault",
                  {"Current: 100 mA", "Status: Weld and redundant protection indications"}},
    CatalogueCase{"FLT_BG_OVERVOLT", 65535, 0, "Charging Overvoltage",
                  {"Phone Voltage: 65535 mV"}},
    CatalogueCase{"FLT_BG_OVERVOLT", 65535, 1, "Charging Overvoltage",
                  {"Charging Voltage Limit: 65535 mV"}},
    CatalogueCase{"FLT_SWAP", 65535, 0, "Power Transfer Fault",
                  {"Direction: Vehicle USB to Charging"}},
    CatalogueCase{"FLT_SWAP", 0, 1, "Power Transfer Fault",
                  {"Direction: Charging to Vehicle USB"}}));
// clang-format on

struct UndisplayableCase {
    const char* code;
    std::uint16_t value2;
};

// The message describing fails with; "(described)" when it does not fail.
template <typename Describe>
std::string refusalOf(Describe describe) {
    try {
        describe();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(described)";
}

class Undisplayable : public ::testing::TestWithParam<UndisplayableCase> {};

TEST_P(Undisplayable, IsRefused) {
    const FaultRecord record{1, GetParam().code, false, 0, 0, GetParam().value2};
    EXPECT_EQ(refusalOf([&] { describeFaultRecord(record); }), kCannotDisplay) << record.code;
}

INSTANTIATE_TEST_SUITE_P(
    UnknownCodesAndVariants, Undisplayable,
    ::testing::Values(UndisplayableCase{"FLT_WELD", 4}, UndisplayableCase{"FLT_WELD", 65535},
                      UndisplayableCase{"FLT_BG_OVERVOLT", 2},
                      UndisplayableCase{"FLT_BG_OVERVOLT", 65535}, UndisplayableCase{"FLT_SWAP", 2},
                      UndisplayableCase{"FLT_SWAP", 65535}, UndisplayableCase{"flt_weld", 0},
                      UndisplayableCase{"FLT_WEL", 0}, UndisplayableCase{"FLT_UNKNOWN", 0}));

TEST(Catalogue, OneUndisplayableRecordFailsTheWholeLog) {
    std::vector<FaultRecord> records(50, FaultRecord{1, "CLEAN_RUN", false, 0, 1, 2});
    records[31].code = "FLT_NEW_IN_FIRMWARE_9";
    EXPECT_EQ(refusalOf([&] { describeFaultRecords(records); }), kCannotDisplay);
}

}  // namespace
}  // namespace velkora
