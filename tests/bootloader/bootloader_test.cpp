#include <gtest/gtest.h>

#include <map>
#include <numeric>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_records.h"
#include "bootloader/firmware_transfer.h"
#include "bootloader/start_update.h"
#include "tests/support/bench.h"

namespace velkora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::outcomeOf;

HidResponse answer(std::uint8_t status, Bytes payload) {
    payload.resize(49);
    const testing::Report report = testing::responseReport(0x01, 1, status, payload);
    HidResponse decoded{.length = 65};
    std::copy(report.begin(), report.end(), decoded.data.begin());
    return decoded;
}

// Each field has a value of its own, so that a field read from a neighbouring byte shows.
TEST(Bootloader, DecodesEveryFieldFromItsOffsetAndNamesItsStatus) {
    const std::vector<std::pair<std::uint8_t, std::string>> names{
        {0, "OK"},         {6, "BAD_SIZE"},         {10, "INCOMPLETE"}, {11, "STATUS_0x0B"},
        {12, "DUPLICATE"}, {18, "COMPAT_MISMATCH"}, {19, "STATUS_0x13"}};
    for (const auto& [code, name] : names) {
        EXPECT_EQ(bootloaderStatusName(code), name);
    }
    EXPECT_EQ(applicationStatusName(5) + applicationStatusName(6), "BUSYFAILED");
    Bytes info{1,    2, 64,   56,  9,   9,   9,   9,   0x12, 0x34,
               0xAB, 0, 0xFF, 'V', 'K', '-', '0', '0', '4',  '2'};
    info.resize(40);
    info.insert(info.end(), {1, 2, 3, 4, 5, 6, 7, 8, 0x1F});
    const BootloaderInfo decoded = parseBootloaderInfo(answer(0, info));
    EXPECT_EQ(formatDeviceId(decoded.deviceId), "1234AB00FFVK-0042");
    EXPECT_EQ(formatVersion(decoded.bootloaderVersion) + formatVersion(decoded.hardwareVersion),
              "1.2.3.45.6.7.8");
    EXPECT_EQ(decoded.compatibility, 0x1F);
    const AppInfo app = parseAppInfo(answer(0, {1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 3}));
    EXPECT_EQ(formatVersion(app.hardwareInterface) + formatVersion(app.softwareVersion),
              "1.2.3.45.6.7.8");
    EXPECT_EQ(app.compatibility, 3);
    EXPECT_TRUE(!app.valid && parseAppInfo(answer(0, {0, 2})).valid);
    EXPECT_EQ(outcomeOf([&] { parseBootloaderInfo(answer(5, info)); }), "GET_INFO failed: BUSY");
    EXPECT_EQ(outcomeOf([&] { parseAppInfo(answer(5, info)); }), "GET_APP_INFO failed: BUSY");
    const std::vector<std::tuple<std::uint8_t, std::uint8_t, std::string>> ids{
        {' ', '~', "0100FF7F80 K-004~"}, {31, '2', ""}, {'V', 127, ""}, {'V', 0, ""}};
    for (const auto& [first, last, text] : ids) {
        EXPECT_EQ(formatDeviceId({1, 0, 0xFF, 0x7F, 0x80, first, 'K', '-', '0', '0', '4', last}),
                  text);
    }
    // Supported: major 1, minor 1 or more, 64-byte reports and room for 56-byte payloads.
    const std::vector<std::pair<Bytes, bool>> support{
        {{1, 1, 64, 56}, true},  {{1, 255, 64, 255}, true}, {{0, 1, 64, 56}, false},
        {{2, 1, 64, 56}, false}, {{1, 0, 64, 56}, false},   {{1, 1, 63, 56}, false},
        {{1, 1, 65, 56}, false}, {{1, 1, 64, 55}, false}};
    for (const auto& [fields, supported] : support) {
        EXPECT_EQ(isSupportedBootloader(parseBootloaderInfo(answer(0, fields))), supported);
    }
}

// A transfer of `size` bytes to a bootloader that answers START_UPDATE, the chunks and
// GET_STATUS with OK, except the `refusedAt`-th of the chunks and GET_STATUS (from 1), which
// gets `refusal`, and END_UPDATE with `endStatus`, reporting 51 bytes.
struct Transfer : testing::Bench {
    Transfer(std::size_t size, std::size_t refusedAt = 0, int refusal = 0, int endStatus = 0)
        : image(size) {
        std::iota(image.begin(), image.end(), std::uint8_t{7});
        const std::size_t chunks = (size + 50) / 51;
        answer(0x03, 4);
        for (std::size_t i = 1; i <= chunks + 1; ++i) {
            answer(i <= chunks ? 5 : 2, std::uint8_t(4 + i),
                   std::uint8_t(i == refusedAt ? refusal : 0));
        }
        answer(0x06, std::uint8_t(chunks + 6), std::uint8_t(endStatus),
               {0, 0, 0, 0, 0, 0, 0, 0, 51});
        log.writeLine("started");
        std::uint8_t sequence = 4;
        error = outcomeOf([&] {
            transferFirmware(services, handle, image, TransferTarget{2, 0x02, 0x03}, sequence, log);
        });
        for (const testing::Report& report : port.written()) {  // command and payload of each
            requests.push_back({report[5]});
            requests.back().insert(requests.back().end(), report.begin() + 9,
                                   report.begin() + 9 + report[7]);
        }
    }

    Bytes image;
    std::string error;
    std::vector<Bytes> requests;
};

TEST(FirmwareTransfer, SendsFiftyOneBytesPerChunkAndStopsAtTheFirstRefusal) {
    Transfer transfer(52);
    Bytes first{5, 0, 0, 0, 0, 51};
    first.insert(first.end(), transfer.image.begin(), transfer.image.begin() + 51);
    EXPECT_EQ(
        transfer.requests,
        (std::vector<Bytes>{
            {3, 1, 2, 52, 0, 0, 0}, first, {5, 51, 0, 0, 0, 1, transfer.image[51]}, {2}, {6}}));
    EXPECT_EQ(transfer.out.str(),
              "\rSending firmware:  98%\rSending firmware: 100%\rSending firmware: 100%\n");
    EXPECT_EQ(transfer.clock.tickCount64(), 1000u + 30 + 2 + 30) << "pauses, the rest is instant";
    // Past 5100 bytes the first chunk is less than one per cent: 0% is shown all the same.
    EXPECT_TRUE(Transfer(5101).out.str().starts_with("\rSending firmware:   0%\r"));
    // The refused request of the three chunks and GET_STATUS, its status, END_UPDATE's status,
    // the failure, the last log line (END_UPDATE is logged before it is judged), requests sent.
    const std::string end = "Sending firmware END_UPDATE ";
    const std::vector<std::tuple<int, int, int, std::string, std::string, std::size_t>> rows{
        {0, 0, 0, "", end + "status=OK bytes=51", 6},
        {0, 0, 18,
         "Firmware rejected by device: incompatible update firmware. Device compatibility 0x02, "
         "firmware compatibility 0x03.",
         end + "status=COMPAT_MISMATCH bytes=51", 6},
        {0, 0, 19, end + "failed: STATUS_0x13", end + "status=STATUS_0x13 bytes=51", 6},
        {3, 8, 0, "Sending firmware DATA_CHUNK failed at offset 102: OFFSET_MISMATCH", "started",
         4},
        {4, 5, 0, "Sending firmware GET_STATUS failed: BUSY", "started", 5}};
    for (const auto& [refusedAt, refusal, endStatus, error, lastLine, sent] : rows) {
        Transfer refused(153, std::size_t(refusedAt), refusal, endStatus);
        EXPECT_EQ(refused.error, error);
        EXPECT_EQ(testing::readLogLines(refused.log.path()).back(), lastLine);
        EXPECT_EQ(refused.requests.size(), sent);
    }
}

// Every state with either flag, and every outcome of each step of the recovery. A script lists
// the bootloader's answers from the first START_UPDATE on: "S5" START_UPDATE with status 5,
// "A0" ABORT_UPDATE with status 0, "G5" GET_STATUS refused with 5, "s31" GET_STATUS reporting
// state 3 with the active byte 1. The log is a string of the letters below; P holds the summary
// of the first GET_STATUS, Q that of the last, which also ends a failure that ends in ". ".
TEST(StartUpdate, RecoversFromBusyOnlyWhereTheStateAllows) {
    const std::string sent = "Sending firmware START_UPDATE ";
    const std::string unsupported = sent + "returned BUSY with an unsupported device state. ";
    const std::vector<std::tuple<std::string, std::string, std::string>> rows{
        {"S0", "", ""},
        {"S6", "", sent + "failed: BAD_SIZE"},
        {"S5 G5", "", "GET_STATUS failed: BUSY"},
        {"S5 s30 A0 s00 S0", "PAQR", ""},
        {"S5 s30 A0 s02 S0", "PAQR", ""},
        {"S5 s30 A0 s00 S5", "PAQRF", sent + "retry failed: BUSY"},
        {"S5 s30 A0 s30", "PAQ",
         "Sending firmware ABORT_UPDATE did not return the bootloader to IDLE. "},
        {"S5 s30 A7", "PA", "Sending firmware ABORT_UPDATE failed: NOT_ACTIVE"},
        {"S5 s00 S0", "PI", ""},
        {"S5 s01 S0", "PI", ""},
        {"S5 s00 S5", "PIB",
         "START_UPDATE remained BUSY while GET_STATUS reported IDLE; protocol/state "
         "inconsistency. "},
        {"S5 s00 S17", "PIE", sent + "retry failed: FLASH_ERROR"},
        {"S5 s11", "PT",
         "An update is already active and cannot safely be replaced automatically. "},
        {"S5 s20", "PN",
         "The previous update has completed; the device may be handing off or resetting. "},
        {"S5 s31", "PU", unsupported},
        {"S5 s10", "PU", unsupported},
        {"S5 s21", "PU", unsupported},
        {"S5 s40", "PU", unsupported}};
    const std::string states[] = {"IDLE", "RECEIVING", "FINISHED", "ERROR", "STATE_0x04"};
    const std::string recovery = "START_UPDATE recovery: ";
    std::map<char, std::string> texts{
        {'A', recovery + "ERROR with no active transfer; sending ABORT_UPDATE"},
        {'R', recovery + "sending one retry after ABORT_UPDATE"},
        {'I', recovery + "state is IDLE; retrying START_UPDATE once"},
        {'F', recovery + "retry failed status=BUSY"},
        {'E', recovery + "retry failed status=FLASH_ERROR"},
        {'B', recovery + "remained BUSY while GET_STATUS reported IDLE"},
        {'T', recovery + "active transfer detected; no automatic abort"},
        {'N', recovery + "previous update is FINISHED; no automatic abort"},
        {'U', recovery + "unsupported state; no automatic recovery"}};
    for (const auto& [script, log, error] : rows) {
        testing::Bench bench;
        std::istringstream words(script);
        std::uint8_t sequence = 4;
        std::vector<std::string> summaries{""};
        for (std::string word; words >> word; ++sequence) {
            const auto number = static_cast<std::uint8_t>(std::stoi(word.substr(1)));
            const std::uint8_t state = number / 10, active = number % 10;
            if (word[0] == 's') {
                // Last command 5 refused with 17, 1000 bytes expected (LE32), 510 received.
                bench.answer(2, sequence, 0,
                             {state, active, 5, 17, 0, 0, 0, 0, 0xE8, 3, 0, 0, 0xFE, 1, 0, 0});
                summaries.push_back(
                    "state=" + states[state] + " active=" + (active ? "1" : "0") +
                    " last_command=0x05 last_status=FLASH_ERROR expected=1000 received=510");
            } else {
                bench.answer(word[0] == 'S' ? 3 : word[0] == 'A' ? 4 : 2, sequence, number);
            }
        }
        texts['P'] = "Initial START_UPDATE returned BUSY; prior " +
                     summaries[std::min<std::size_t>(1, summaries.size() - 1)];
        texts['Q'] = recovery + "after ABORT_UPDATE " + summaries.back();
        std::vector<std::string> lines;
        for (const char letter : log) {
            lines.push_back(texts[letter]);
        }
        sequence = 4;
        EXPECT_EQ(outcomeOf([&] { startUpdate(bench.handle, 1000, 2, sequence, bench.log); }),
                  error + (error.ends_with(". ") ? summaries.back() : ""))
            << script;
        EXPECT_EQ(testing::readLogLines(bench.log.path()), lines) << script;
    }
}

}  // namespace
}  // namespace velkora
