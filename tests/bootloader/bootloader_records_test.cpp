#include <gtest/gtest.h>

#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_records.h"
#include "tests/support/scripted_hid_port.h"

namespace velkora {
namespace {

HidResponse response(std::uint8_t status, const std::vector<std::uint8_t>& payload,
                     bool withReportId = true) {
    const testing::Report report = testing::responseReport(0x01, 1, status, payload, withReportId);
    HidResponse decoded;
    std::copy(report.begin(), report.end(), decoded.data.begin());
    decoded.length = static_cast<std::uint32_t>(report.size());
    return decoded;
}

TEST(StatusNames, NameKnownCodesAndFallBackForOthers) {
    EXPECT_EQ(bootloaderStatusName(0), "OK");
    EXPECT_EQ(bootloaderStatusName(10), "INCOMPLETE");
    EXPECT_EQ(bootloaderStatusName(11), "STATUS_0x0B");
    EXPECT_EQ(bootloaderStatusName(12), "DUPLICATE");
    EXPECT_EQ(bootloaderStatusName(18), "COMPAT_MISMATCH");
    EXPECT_EQ(bootloaderStatusName(19), "STATUS_0x13");
    EXPECT_EQ(bootloaderStatusName(0xFF), "STATUS_0xFF");
    EXPECT_EQ(bootloaderStatusName(6), "BAD_SIZE");
    EXPECT_EQ(applicationStatusName(6), "FAILED");
    EXPECT_EQ(applicationStatusName(5), "BUSY");
}

std::vector<std::uint8_t> infoPayload(std::uint8_t minor, std::uint8_t lastIdByte) {
    std::vector<std::uint8_t> payload(49, 0);
    payload[0] = 1;
    payload[1] = minor;
    payload[2] = 0x40;
    payload[3] = 0x3C;
    const std::uint8_t id[12] = {0x12, 0x34, 0xAB, 0x00, 0xFF, 'V',
                                 'K',  '-',  '0',  '0',  '4',  lastIdByte};
    std::copy(std::begin(id), std::end(id), payload.begin() + 8);
    const std::uint8_t versions[9] = {1, 2, 3, 4, 5, 6, 7, 8, 0x1F};
    std::copy(std::begin(versions), std::end(versions), payload.begin() + 40);
    return payload;
}

TEST(BootloaderInfo, DecodesEveryFieldInBothReportShapes) {
    for (bool withReportId : {true, false}) {
        const BootloaderInfo info =
            parseBootloaderInfo(response(0, infoPayload(2, '2'), withReportId));
        EXPECT_EQ(info.protocolMajor, 1);
        EXPECT_EQ(info.protocolMinor, 2);
        EXPECT_TRUE(info.hasDeviceId);
        EXPECT_EQ(formatDeviceId(info.deviceId), "1234AB00FFVK-0042");
        EXPECT_EQ(formatVersion(info.bootloaderVersion), "1.2.3.4");
        EXPECT_EQ(formatVersion(info.hardwareVersion), "5.6.7.8");
        EXPECT_EQ(info.compatibility, 0x1F);
        EXPECT_TRUE(isSupportedBootloader(info)) << "capacity 60 is enough";
    }
}

TEST(BootloaderInfo, MinorVersionOneCarriesNoDeviceId) {
    const BootloaderInfo info = parseBootloaderInfo(response(0, infoPayload(1, '2')));
    EXPECT_FALSE(info.hasDeviceId);
    EXPECT_EQ(info.deviceId, (std::array<std::uint8_t, 12>{}));
}

TEST(BootloaderInfo, ANonPrintableIdByteMakesTheSerialUnavailable) {
    EXPECT_EQ(formatDeviceId(parseBootloaderInfo(response(0, infoPayload(2, 0))).deviceId), "");
    EXPECT_EQ(formatDeviceId(parseBootloaderInfo(response(0, infoPayload(2, 127))).deviceId), "");
    EXPECT_EQ(formatDeviceId(parseBootloaderInfo(response(0, infoPayload(2, 126))).deviceId),
              "1234AB00FFVK-004~");
}

TEST(BootloaderInfo, SupportNeedsEveryProtocolValue) {
    BootloaderInfo info = parseBootloaderInfo(response(0, infoPayload(1, '2')));
    EXPECT_TRUE(isSupportedBootloader(info));
    BootloaderInfo other = info;
    other.protocolMajor = 2;
    EXPECT_FALSE(isSupportedBootloader(other));
    other = info;
    other.protocolMinor = 0;
    EXPECT_FALSE(isSupportedBootloader(other));
    other = info;
    other.reportLength = 65;
    EXPECT_FALSE(isSupportedBootloader(other));
    other = info;
    other.payloadCapacity = 0x37;
    EXPECT_FALSE(isSupportedBootloader(other));
}

TEST(Decoders, ANonZeroStatusFailsWithTheCommandLabel) {
    EXPECT_THROW(
        try { parseBootloaderInfo(response(5, {})); } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "GET_INFO failed: BUSY");
            throw;
        },
        std::runtime_error);
    EXPECT_THROW(
        try { parseAppInfo(response(11, {})); } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "GET_APP_INFO failed: STATUS_0x0B");
            throw;
        },
        std::runtime_error);
}

TEST(Decoders, ApplicationAndStatusRecords) {
    const AppInfo app = parseAppInfo(response(0, {0, 2, 0, 0, 1, 0, 0, 0, 3, 4, 5, 6, 0x03}));
    EXPECT_TRUE(app.valid) << "any non-zero byte";
    EXPECT_EQ(formatVersion(app.hardwareInterface), "1.0.0.0");
    EXPECT_EQ(formatVersion(app.softwareVersion), "3.4.5.6");
    EXPECT_EQ(app.compatibility, 0x03);

    const BootloaderStatus status = parseBootloaderStatus(
        response(0, {7, 9, 0x05, 0, 0, 0, 0, 0, 0x40, 0x0D, 0x03, 0, 0x38, 0xC7, 0, 0}));
    EXPECT_EQ(formatStatusSummary(status),
              "state=STATE_0x07 active=1 last_command=0x05 last_status=OK expected=200000 "
              "received=51000");
}

}  // namespace
}  // namespace velkora
