#include <numeric>
#include <stdexcept>

#include "bootloader/firmware_transfer.h"
#include "tests/support/scripted_connection_fixture.h"

namespace velkora {
namespace {

constexpr std::uint8_t kStart = 0x03;
constexpr std::uint8_t kStatus = 0x02;
constexpr std::uint8_t kChunk = 0x05;
constexpr std::uint8_t kEnd = 0x06;

std::vector<std::uint8_t> image(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{7});
    return bytes;
}

std::vector<std::uint8_t> endPayload(std::uint32_t bytes) {
    std::vector<std::uint8_t> payload(12, 0);
    for (int i = 0; i < 4; ++i) {
        payload[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bytes >> (8 * i));
    }
    return payload;
}

class FirmwareTransfer : public testing::ScriptedConnectionFixture {
  protected:
    // Scripts a bootloader that accepts everything of an image in `chunks` chunks.
    void scriptAcceptingBootloader(std::size_t chunks, std::uint32_t size) {
        std::uint8_t sequence = 4;
        answer(kStart, sequence++);
        for (std::size_t i = 0; i < chunks; ++i) {
            answer(kChunk, sequence++);
        }
        answer(kStatus, sequence++);
        answer(kEnd, sequence++, 0, endPayload(size));
    }

    EndUpdateResult transfer(const std::vector<std::uint8_t>& bytes) {
        std::uint8_t sequence = 4;
        return transferFirmware(services, handle, bytes, TransferTarget{2, 0x02, 0x03}, sequence,
                                log);
    }

    // The message the transfer fails with; empty when it completes.
    std::string transferFailure(const std::vector<std::uint8_t>& bytes) {
        try {
            transfer(bytes);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }

    // The chunk offsets and lengths the bootloader received.
    std::vector<std::pair<std::uint32_t, int>> chunksSent() const {
        std::vector<std::pair<std::uint32_t, int>> chunks;
        for (const testing::Report& report : port.written()) {
            if (report[5] == kChunk) {
                const std::uint32_t offset = static_cast<std::uint32_t>(report[9]) |
                                             static_cast<std::uint32_t>(report[10]) << 8 |
                                             static_cast<std::uint32_t>(report[11]) << 16 |
                                             static_cast<std::uint32_t>(report[12]) << 24;
                chunks.emplace_back(offset, report[13]);
            }
        }
        return chunks;
    }
};

TEST_F(FirmwareTransfer, AnnouncesTheSizeAndSendsFiftyOneBytesPerChunk) {
    const std::vector<std::uint8_t> bytes = image(52);
    scriptAcceptingBootloader(2, 52);
    EXPECT_EQ(transfer(bytes).bytes, 52u);
    const testing::Report& start = port.written().front();
    EXPECT_EQ(std::vector<int>(start.begin() + 7, start.begin() + 15),
              (std::vector<int>{6, 0, 1, 2, 52, 0, 0, 0}))
        << "payload length 6: major 1, the minor from GET_INFO, the size little-endian";
    EXPECT_EQ(chunksSent(), (std::vector<std::pair<std::uint32_t, int>>{{0, 51}, {51, 1}}));
    const testing::Report& last = port.written()[2];
    EXPECT_EQ(last[7], 6) << "5 header bytes and the one remaining image byte";
    EXPECT_EQ(last[14], bytes[51]);
    EXPECT_EQ(commandsSent(), (std::vector<int>{kStart, kChunk, kChunk, kStatus, kEnd}));
    EXPECT_EQ(out.str(),
              "\rSending firmware:  98%\rSending firmware: 100%\rSending firmware: 100%\n");
}

TEST_F(FirmwareTransfer, FiftyOneBytesAreOneChunkAndThePausesAreKept) {
    scriptAcceptingBootloader(1, 51);
    const std::uint64_t before = clock.tickCount64();
    transfer(image(51));
    EXPECT_EQ(chunksSent(), (std::vector<std::pair<std::uint32_t, int>>{{0, 51}}));
    // 30 ms before the data, 1 ms after each chunk, 30 ms before END_UPDATE; the scripted
    // bootloader itself answers at once.
    EXPECT_EQ(clock.tickCount64() - before, 61u);
}

TEST_F(FirmwareTransfer, AnEmptyImageSendsNoChunkButCompletes) {
    scriptAcceptingBootloader(0, 0);
    transfer({});
    EXPECT_EQ(commandsSent(), (std::vector<int>{kStart, kStatus, kEnd}));
    EXPECT_EQ(out.str(), "\rSending firmware: 100%\n");
}

TEST_F(FirmwareTransfer, ShowsEachWholePercentageOnce) {
    const std::size_t chunks = 300;
    scriptAcceptingBootloader(chunks, 51 * chunks);
    transfer(image(51 * chunks));
    const std::string text = out.str();
    // 0% to 100% once each (the first chunk is a third of a percent), then the closing line.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 102);
    EXPECT_EQ(text.substr(0, 47), "\rSending firmware:   0%\rSending firmware:   1%\r");
}

TEST_F(FirmwareTransfer, AChunkFailureNamesItsOffset) {
    std::uint8_t sequence = 4;
    answer(kStart, sequence++);
    answer(kChunk, sequence++);
    answer(kChunk, sequence++);
    answer(kChunk, sequence++, 8);
    EXPECT_EQ(transferFailure(image(51 * 4)),
              "Sending firmware DATA_CHUNK failed at offset 102: OFFSET_MISMATCH");
    EXPECT_EQ(chunksSent().size(), 3u) << "nothing is sent after the failure";
}

struct EndCase {
    std::uint8_t getStatus;
    std::uint8_t endStatus;
    std::string error;
    std::string lastLogLine;
};

class FirmwareTransferEnd : public FirmwareTransfer,
                            public ::testing::WithParamInterface<EndCase> {};

TEST_P(FirmwareTransferEnd, TheEndOfUpdateStatusDecides) {
    const EndCase& c = GetParam();
    std::uint8_t sequence = 4;
    answer(kStart, sequence++);
    answer(kChunk, sequence++);
    answer(kStatus, sequence++, c.getStatus);
    answer(kEnd, sequence++, c.endStatus, endPayload(51));
    EXPECT_EQ(transferFailure(image(51)), c.error);
    EXPECT_EQ(logLines().back(), c.lastLogLine) << "END_UPDATE is logged before it is judged";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, FirmwareTransferEnd,
    ::testing::Values(
        EndCase{0, 0, "", "Sending firmware END_UPDATE status=OK bytes=51"},
        EndCase{0, 18,
                "Firmware rejected by device: incompatible update firmware. Device compatibility "
                "0x02, firmware compatibility 0x03.",
                "Sending firmware END_UPDATE status=COMPAT_MISMATCH bytes=51"},
        EndCase{0, 15, "Sending firmware END_UPDATE failed: AUTH_ERROR",
                "Sending firmware END_UPDATE status=AUTH_ERROR bytes=51"},
        EndCase{0, 11, "Sending firmware END_UPDATE failed: STATUS_0x0B",
                "Sending firmware END_UPDATE status=STATUS_0x0B bytes=51"}));

TEST_F(FirmwareTransfer, AStatusFailureAfterTheDataStopsBeforeTheEnd) {
    std::uint8_t sequence = 4;
    answer(kStart, sequence++);
    answer(kChunk, sequence++);
    answer(kStatus, sequence++, 5);
    EXPECT_EQ(transferFailure(image(51)), "Sending firmware GET_STATUS failed: BUSY");
    EXPECT_EQ(commandsSent().back(), kStatus);
}

}  // namespace
}  // namespace velkora
