#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/firmware_image.h"
#include "tests/sim/sim_rig.h"

namespace velkora::sim::testing {
namespace {

enum class Op { Start, Chunk, End, Abort };

// One request of a transfer and what the bootloader must answer and become.
struct Step {
    Op op;
    std::uint32_t offsetOrSize = 0;
    std::uint8_t count = 0;
    std::uint8_t status = status::kOk;
    std::uint8_t stateAfter = transfer_state::kIdle;
    bool activeAfter = false;
};

struct TransferCase {
    const char* name;
    std::vector<Step> steps;
};

using S = Step;
constexpr std::uint8_t kIdle = transfer_state::kIdle;
constexpr std::uint8_t kReceiving = transfer_state::kReceiving;
constexpr std::uint8_t kError = transfer_state::kError;

class TransferStateMachine : public ::testing::TestWithParam<TransferCase> {};

TEST_P(TransferStateMachine, AnswersAndStates) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.bootloader.maxImageSize = 4096;
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();
    int index = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(index++));
        HidResponse response;
        switch (step.op) {
            case Op::Start:
                response = rig.send(handle, command::kStartUpdate,
                                    startUpdatePayload(step.offsetOrSize), 5000);
                break;
            case Op::Chunk:
                response = rig.send(
                    handle, command::kDataChunk,
                    chunkPayload(step.offsetOrSize, std::vector<std::uint8_t>(step.count, 0xA5)));
                break;
            case Op::End:
                response = rig.send(handle, command::kEndUpdate, {}, 20000);
                break;
            case Op::Abort:
                response = rig.send(handle, command::kAbortUpdate);
                break;
        }
        EXPECT_EQ(response.responseStatus(), step.status);
        const HidResponse status = rig.send(handle, command::kGetStatus);
        EXPECT_EQ(status.responsePayload(0), step.stateAfter);
        EXPECT_EQ(status.responsePayload(1) != 0, step.activeAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransferStateMachine,
    ::testing::Values(TransferCase{"OffsetMustEqualBytesReceived",
                                   {S{Op::Start, 120, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 50, 10, status::kOffsetMismatch, kError, false},
                                    S{Op::Chunk, 51, 10, status::kNotActive, kError, false}}},
                      TransferCase{"ChunkPastAnnouncedSizeOverflows",
                                   {S{Op::Start, 60, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 51, 10, status::kSizeOverflow, kError, false}}},
                      TransferCase{"EndBeforeAllBytesIsIncomplete",
                                   {S{Op::Start, 120, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true},
                                    S{Op::End, 0, 0, status::kIncomplete, kError, false}}},
                      TransferCase{"AbortEndsActiveTransferAndAllowsNewOne",
                                   {S{Op::Start, 120, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true},
                                    S{Op::Start, 120, 0, status::kBusy, kReceiving, true},
                                    S{Op::Abort, 0, 0, status::kOk, kIdle, false},
                                    S{Op::Chunk, 51, 10, status::kNotActive, kIdle, false},
                                    S{Op::Start, 120, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true}}},
                      TransferCase{"ErrorStaysBusyUntilAborted",
                                   {S{Op::Start, 60, 0, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 0, 51, status::kOk, kReceiving, true},
                                    S{Op::Chunk, 51, 10, status::kSizeOverflow, kError, false},
                                    S{Op::Start, 60, 0, status::kBusy, kError, false},
                                    S{Op::Abort, 0, 0, status::kOk, kIdle, false},
                                    S{Op::Start, 60, 0, status::kOk, kReceiving, true}}},
                      TransferCase{"NothingToReceiveOrEnd",
                                   {S{Op::Chunk, 0, 10, status::kNotActive, kIdle, false},
                                    S{Op::End, 0, 0, status::kNotActive, kIdle, false}}},
                      TransferCase{"SizeMustBeAnnouncedAndFit",
                                   {S{Op::Start, 0, 0, status::kBadSize, kIdle, false},
                                    S{Op::Start, 4097, 0, status::kBadSize, kIdle, false},
                                    S{Op::Start, 4096, 0, status::kOk, kReceiving, true}}}),
    [](const ::testing::TestParamInfo<TransferCase>& row) { return row.param.name; });

struct InstallCase {
    const char* name;
    std::string header;
    std::uint8_t endStatus;
    VersionBytes versionAfter;
};

class EndUpdateInstall : public ::testing::TestWithParam<InstallCase> {};

// The image's own header decides whether it installs and which version the application then
// reports; the bytes that END_UPDATE counts are all the bytes received.
TEST_P(EndUpdateInstall, ChecksImageAndReportsVersion) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.bootloader.compatibility = 0x03;
    profile.application.version = {1, 4, 0, 12};
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();

    std::string text = GetParam().header + std::string(200, 'x');
    const std::vector<std::uint8_t> image(text.begin(), text.end());
    const auto size = static_cast<std::uint32_t>(image.size());
    ASSERT_EQ(rig.send(handle, command::kStartUpdate, startUpdatePayload(size)).responseStatus(),
              status::kOk);
    for (std::uint32_t offset = 0; offset < size; offset += 51) {
        const auto end = image.begin() + std::min<std::uint32_t>(size, offset + 51);
        const std::vector<std::uint8_t> chunk(image.begin() + offset, end);
        ASSERT_EQ(
            rig.send(handle, command::kDataChunk, chunkPayload(offset, chunk)).responseStatus(),
            status::kOk);
    }
    const HidResponse end = rig.send(handle, command::kEndUpdate, {}, 20000);
    EXPECT_EQ(end.responseStatus(), GetParam().endStatus);
    EXPECT_EQ(getLe32(std::span(end.data).subspan(end.base() + 8 + 8), 0), size);
    EXPECT_EQ(rig.env.adapter().bootloader().application().version, GetParam().versionAfter);
    EXPECT_EQ(rig.env.adapter().bootloader().receivedImage(), image);
}

INSTANTIATE_TEST_SUITE_P(
    Images, EndUpdateInstall,
    ::testing::Values(InstallCase{"TaggedCompatibleInstallsItsVersion",
                                  formatImageHeader({0x03, {1, 5, 0, 0}, VersionBytes{2, 0, 0, 0}}),
                                  status::kOk,
                                  {1, 5, 0, 0}},
                      InstallCase{"TaggedIncompatibleIsRejected",
                                  formatImageHeader({0x02, {1, 5, 0, 0}, {}}),
                                  status::kCompatMismatch,
                                  {1, 4, 0, 12}},
                      InstallCase{"DamagedTagFailsSecureBoot",
                                  "VELKORA-SIM-IMAGE version=1.5\n",
                                  status::kSbsfuError,
                                  {1, 4, 0, 12}},
                      InstallCase{
                          "PlainImageKeepsVersion", "plain image\n", status::kOk, {1, 4, 0, 12}}),
    [](const ::testing::TestParamInfo<InstallCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::sim::testing
