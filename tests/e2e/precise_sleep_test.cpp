#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/common/run_log.h"
#include "bootloader/firmware_transfer.h"
#include "sim/scenario_reader.h"
#include "tests/support/sim_services.h"
#include "tests/support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include <timeapi.h>

#include <cstring>
#endif

namespace velkora::testing {
namespace {

// The clock of the transfer with its requests for precise sleeps counted, and whether each
// pause of the transfer was slept while one was active.
class CountingClock final : public platform::Clock {
  public:
    explicit CountingClock(platform::Clock& inner) : inner_(inner) {}

    std::uint32_t tickCount32() override { return inner_.tickCount32(); }
    std::uint64_t tickCount64() override { return inner_.tickCount64(); }
    std::time_t calendarTime() override { return inner_.calendarTime(); }
    void sleepMs(std::uint32_t milliseconds) override {
        pausesWhilePrecise.push_back(active > 0);
        inner_.sleepMs(milliseconds);
    }
    void beginPreciseSleep() override {
        ++active;
        ++begun;
        inner_.beginPreciseSleep();
    }
    void endPreciseSleep() override {
        --active;
        inner_.endPreciseSleep();
    }

    int active = 0;
    int begun = 0;
    std::vector<bool> pausesWhilePrecise;

  private:
    platform::Clock& inner_;
};

// Sends a 300-byte image to a simulated adapter that refuses the chunk given in `faults`, if
// any, and returns the failure's message (empty on success).
std::string transferTo(SimServices& sim, platform::Clock& clock) {
    platform::Services& base = sim.services();
    platform::Services services{clock, base.hid, base.keys, base.host, base.in, base.out};
    RunLog log = openRunLog(base.host.programFolder(), clock);
    HidHandle handle = openHidDevice(services, services.hid.enumerate().front().path);
    const std::vector<std::uint8_t> image(300, 0x5A);
    std::uint8_t sequence = 4;
    try {
        transferFirmware(services, handle, image, {2, 0x01, 0x01}, sequence, log);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "";
}

struct PreciseCase {
    const char* name;
    const char* faults;
    const char* outcome;
};

class RunPreciseSleep : public ::testing::TestWithParam<PreciseCase> {};

// The 1 ms pauses after the chunks are slept with the precise timer on, and the request for it
// is handed back however the transfer ends.
TEST_P(RunPreciseSleep, TransferPausesAreSleptPreciselyAndThePrecisionIsHandedBack) {
    TempFolder folder;
    SimServices sim(folder.path(), sim::parseScenario(GetParam().faults, "row.scn"));
    CountingClock clock(sim.services().clock);
    EXPECT_EQ(transferTo(sim, clock), GetParam().outcome);
    EXPECT_EQ(clock.begun, 1);
    EXPECT_EQ(clock.active, 0);
    EXPECT_THAT(clock.pausesWhilePrecise, ::testing::Each(true));
    EXPECT_FALSE(clock.pausesWhilePrecise.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunPreciseSleep,
    ::testing::Values(PreciseCase{"Completed", "", ""},
                      PreciseCase{
                          "ChunkRefused", "[faults]\nDATA_CHUNK 3 = status OFFSET_MISMATCH\n",
                          "Sending firmware DATA_CHUNK failed at offset 102: OFFSET_MISMATCH"},
                      PreciseCase{"AnswerLost", "[faults]\nDATA_CHUNK 2 = no_answer\n",
                                  "Timed out reading HID response."},
                      PreciseCase{"ImageRejected", "[faults]\nEND_UPDATE 1 = status SBSFU_ERROR\n",
                                  "Sending firmware END_UPDATE failed: SBSFU_ERROR"}),
    [](const ::testing::TestParamInfo<PreciseCase>& row) { return row.param.name; });

#ifdef _WIN32

// What the system clock asked of the multimedia timer while the hooks below were in place.
std::vector<std::string> timerPeriodCalls;

MMRESULT WINAPI recordBeginPeriod(UINT period) {
    timerPeriodCalls.push_back("timeBeginPeriod(" + std::to_string(period) + ")");
    return TIMERR_NOERROR;
}

MMRESULT WINAPI recordEndPeriod(UINT period) {
    timerPeriodCalls.push_back("timeEndPeriod(" + std::to_string(period) + ")");
    return TIMERR_NOERROR;
}

// Points one entry of this program's import address table elsewhere and returns the entry's
// previous target, or null when the program does not import that function. The system clock
// calls the multimedia timer through these entries, so the test sees every call it makes
// without a real change of the system's timer period.
void* replaceImport(const char* library, const char* function, void* replacement) {
    auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), library) != 0) {
            continue;
        }
        const DWORD namesAt =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                           &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection,
                           &protection);
            return previous;
        }
    }
    return nullptr;
}

class RunSystemTimerPeriod : public ::testing::Test {
  protected:
    void SetUp() override {
        timerPeriodCalls.clear();
        realBegin_ = replaceImport("winmm.dll", "timeBeginPeriod",
                                   reinterpret_cast<void*>(&recordBeginPeriod));
        realEnd_ =
            replaceImport("winmm.dll", "timeEndPeriod", reinterpret_cast<void*>(&recordEndPeriod));
        ASSERT_NE(realBegin_, nullptr) << "the program imports timeBeginPeriod from winmm.dll";
        ASSERT_NE(realEnd_, nullptr) << "the program imports timeEndPeriod from winmm.dll";
    }
    void TearDown() override {
        replaceImport("winmm.dll", "timeBeginPeriod", realBegin_);
        replaceImport("winmm.dll", "timeEndPeriod", realEnd_);
    }

  private:
    void* realBegin_ = nullptr;
    void* realEnd_ = nullptr;
};

// A transfer in real time against the simulated adapter, on the system clock: the timer period
// is shortened to 1 ms once for the transfer and restored once, also when the transfer fails.
TEST_F(RunSystemTimerPeriod, IsOneMillisecondDuringATransferAndRestoredAfterIt) {
    for (const char* faults : {"", "[faults]\nDATA_CHUNK 3 = status OFFSET_MISMATCH\n"}) {
        timerPeriodCalls.clear();
        TempFolder folder;
        SimServices sim(folder.path(), sim::parseScenario(faults, "row.scn"), {},
                        {sim::Timeline::Mode::RealTime, 0, 0});
        transferTo(sim, sim.services().clock);
        EXPECT_THAT(timerPeriodCalls,
                    ::testing::ElementsAre("timeBeginPeriod(1)", "timeEndPeriod(1)"))
            << (*faults == '\0' ? "completed transfer" : "failed transfer");
    }
}

// Requests nest: the period is shortened by the first and restored after the last.
TEST_F(RunSystemTimerPeriod, NestedRequestsChangeThePeriodOnce) {
    platform::Clock& clock = platform::systemClock();
    {
        platform::PreciseSleepScope outer(clock);
        { platform::PreciseSleepScope inner(clock); }
        EXPECT_THAT(timerPeriodCalls, ::testing::ElementsAre("timeBeginPeriod(1)"));
    }
    EXPECT_THAT(timerPeriodCalls, ::testing::ElementsAre("timeBeginPeriod(1)", "timeEndPeriod(1)"));
}

double meanSleep1Ms(int count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        Sleep(1);
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / count;
}

// A measurement for the release notes, not a check (timing is never asserted in tests): how
// long Sleep(1) lasts on this system with the default timer period and inside the transfer's
// precise-sleep scope. Windows gives about 15.6 ms and 1 ms; Wine sleeps precisely either way.
TEST(RunSleep1, MeanLengthIsRecordedInsideAndOutsideThePreciseScope) {
    constexpr int kSleeps = 200;
    const double outside = meanSleep1Ms(kSleeps);
    double inside = 0;
    {
        platform::PreciseSleepScope precise(platform::systemClock());
        inside = meanSleep1Ms(kSleeps);
    }
    RecordProperty("sleep1_default_ms", std::to_string(outside));
    RecordProperty("sleep1_precise_ms", std::to_string(inside));
    std::cout << "[ sleep ] Sleep(1) lasts " << outside << " ms by default and " << inside
              << " ms inside PreciseSleepScope (mean of " << kSleeps << ")\n";
    EXPECT_GT(inside, 0.0);
}

#endif

}  // namespace
}  // namespace velkora::testing
