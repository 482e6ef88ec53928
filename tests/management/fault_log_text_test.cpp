#include "management/fault_log_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "management/fault_catalogue.h"
#include "management/fault_dump_parser.h"
#include "tests/management/fault_dump_text.h"

namespace velkora {
namespace {

TEST(FaultLogText, ZeroRecordsSaysSo) {
    EXPECT_EQ(formatFaultLog({}), "Total number of faults: 0\r\nNo faults are stored.\r\n");
}

TEST(FaultLogText, PadsIndexesAndPlacesXRightAfterTheTitle) {
    const std::vector<FaultDisplay> displays{
        {1, false, 0, "Charging Overcurrent", {"Current: -100 mA", "Phone Voltage: 5120 mV"}},
        {7, true, 0, "Protocol Event", {"Event Value 1: 1", "Event Value 2: 2"}},
        {42, true, 255, "Accessory Mode Detected", {}},
        {999, false, 0, "Overtemperature", {"Temperature: 85 C"}},
        {0, false, 0, "Accessory Mode Detected", {}},
    };
    EXPECT_EQ(formatFaultLog(displays),
              "Total number of faults: 5\r\n"
              "\r\nFault 001\r\nCharging Overcurrent\r\nCurrent: -100 mA\r\n"
              "Phone Voltage: 5120 mV\r\n"
              "\r\nFault 007\r\nProtocol Event\r\nX: 0\r\nEvent Value 1: 1\r\n"
              "Event Value 2: 2\r\n"
              "\r\nFault 042\r\nAccessory Mode Detected\r\nX: 255\r\n"
              "\r\nFault 999\r\nOvertemperature\r\nTemperature: 85 C\r\n"
              "\r\nFault 000\r\nAccessory Mode Detected\r\n");
}

// The whole road from the device's bytes to the text that is shown and saved.
TEST(FaultLogText, RendersADeviceDump) {
    const std::string dump = testing::framedDump(
        "\x1B[32mStored faults:\x1B[0m\r\n003\r\n"
        "001 \x1B[31mFLT_WELD\x1B[0m 00250 00001\r\n"
        "002\tPD_SOFT_RESET\t004\t00001\t00002\r\n"
        "\r\n"
        "003 FLT_ISENSOR 02051 65534  \r\n");
    const std::vector<FaultDisplay> displays = describeFaultRecords(parseFaultDump(dump));
    EXPECT_EQ(formatFaultLog(displays),
              "Total number of faults: 3\r\n"
              "\r\nFault 001\r\nPower Switch Fault\r\nCurrent: 250 mA\r\n"
              "Status: Weld indication\r\n"
              "\r\nFault 002\r\nProtocol Event\r\nX: 4\r\nEvent Value 1: 1\r\n"
              "Event Value 2: 2\r\n"
              "\r\nFault 003\r\nCurrent Sensor Fault\r\nADC Average: 2051\r\nADC Delta: -2\r\n");
}

}  // namespace
}  // namespace velkora
