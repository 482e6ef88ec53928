#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/run_session.h"

namespace velkora::testing::run {
namespace {

// A request of the run, by the n-th time its command is sent: the three opening requests, the
// transfer's (the second chunk of six stands for all of them) and START_APP.
struct RunRequest {
    const char* command;
    int occurrence;
    std::uint32_t timeoutMs;
    bool startsDevice;  // reached by menu choice 3 rather than 1
};

constexpr RunRequest kRunRequests[] = {
    {"GET_INFO", 1, 3000, false},    {"GET_APP_INFO", 1, 3000, false},
    {"GET_STATUS", 1, 3000, false},  {"START_UPDATE", 1, 5000, false},
    {"DATA_CHUNK", 2, 10000, false}, {"GET_STATUS", 2, 3000, false},
    {"END_UPDATE", 1, 20000, false}, {"START_APP", 1, 3000, true},
};

enum class Fault { NoAnswer, StaleAnswerFirst, AnswerWithoutReportId };

const char* faultName(Fault fault) {
    switch (fault) {
        case Fault::NoAnswer:
            return "no_answer";
        case Fault::StaleAnswerFirst:
            return "stale";
        case Fault::AnswerWithoutReportId:
            break;
    }
    return "no_report_id";
}

const std::string kAdapter =
    "[application]\nversion = 1.4.0.12\nhwif = 1.2.0.0\n"
    "[bootloader]\nversion = 1.3.0.0\nhardware_version = 2.1.0.0\n";
// 300 bytes: six chunks.
const FirmwarePackageProfile kPackage{0x01, "1.5.0.0", 300};

TranscriptResult runWith(const std::string& faults, bool startsDevice) {
    const UserScript user{startsDevice ? std::vector<sim::ConsoleLine>{{0, "3"}}
                                       : std::vector<sim::ConsoleLine>{{0, "1"}, {0, ""}},
                          {}};
    return runSession(kAdapter + faults, user, kPackage);
}

// The same session against an adapter without faults, run once per path.
const TranscriptResult& healthy(bool startsDevice) {
    static std::map<bool, TranscriptResult> results;
    auto found = results.find(startsDevice);
    if (found == results.end()) {
        found = results.emplace(startsDevice, runWith("", startsDevice)).first;
    }
    return found->second;
}

class RunTransportFault : public ::testing::TestWithParam<std::tuple<RunRequest, Fault>> {};

// A fault on the way back from the adapter at each request of the run. A request left
// unanswered ends the run after exactly its time-out, with nothing sent after it and nothing
// logged that the healthy run would not have logged by then. A stale answer before the real
// one, or answers read without their report ID, change nothing the user or the log can see.
TEST_P(RunTransportFault, EndsTheRunOnlyWhenTheAnswerNeverComes) {
    const auto& [request, fault] = GetParam();
    const TranscriptResult& expected = healthy(request.startsDevice);
    ASSERT_EQ(expected.exitCode, 0);
    const TranscriptResult result =
        runWith(std::string("[faults]\n") + request.command + " " +
                    std::to_string(request.occurrence) + " = " + faultName(fault) + "\n",
                request.startsDevice);
    const std::vector<std::string> log = onlyLog(result);
    EXPECT_EQ(result.openConnections, 0u);

    if (fault != Fault::NoAnswer) {
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(visible(result.printed), visible(expected.printed));
        EXPECT_EQ(log, onlyLog(expected));
        EXPECT_EQ(requestSummary(result), requestSummary(expected));
        return;
    }
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(
        result.printed,
        ::testing::EndsWith("\nUpdate failed.\nTimed out reading HID response.\n" + kPressEnter));
    ASSERT_FALSE(result.requests.empty());
    const sim::ReceivedRequest& last = result.requests.back();
    EXPECT_EQ(sim::scenario::commandName(last.request.command), request.command)
        << "nothing is sent after the unanswered request";
    EXPECT_EQ(std::count_if(result.requests.begin(), result.requests.end(),
                            [&](const sim::ReceivedRequest& r) {
                                return r.request.command == last.request.command;
                            }),
              request.occurrence);
    EXPECT_EQ(result.virtualMs - last.at / sim::kMicrosPerMs, request.timeoutMs);
    const std::vector<std::string> fullLog = onlyLog(expected);
    ASSERT_LT(log.size(), fullLog.size());
    EXPECT_TRUE(std::equal(log.begin(), log.end(), fullLog.begin()))
        << "the log is the healthy run's up to the failure";
}

INSTANTIATE_TEST_SUITE_P(EachRequest, RunTransportFault,
                         ::testing::Combine(::testing::ValuesIn(kRunRequests),
                                            ::testing::Values(Fault::NoAnswer,
                                                              Fault::StaleAnswerFirst,
                                                              Fault::AnswerWithoutReportId)),
                         [](const ::testing::TestParamInfo<std::tuple<RunRequest, Fault>>& row) {
                             const RunRequest& request = std::get<0>(row.param);
                             return std::string(request.command) +
                                    std::to_string(request.occurrence) + "_" +
                                    faultName(std::get<1>(row.param));
                         });

}  // namespace
}  // namespace velkora::testing::run
