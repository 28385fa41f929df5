// A unit's clock and battery after identify, and a recording that outlives bad stream
// descriptions, against hylo-sim.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "support/SimSession.h"
#include "support/SoundFile.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDay = 86400;

}  // namespace

// Modes 0 and 3 take the host clock at once; 1 and 2 are read first and set only when more
// than 30 days out. "Z" follows every identify.
TEST(UnitClock, TheSyncModeAndThe30DayRuleDecideWhetherTheClockIsSet) {
  const struct {
    int mode;
    std::int64_t offset;
    bool read;
    bool set;
  } cases[] = {{0, 0, false, true},         {3, -400 * kDay, false, true}, {1, 0, true, false},
               {2, 29 * kDay, true, false}, {1, -31 * kDay, true, true},   {2, 40 * kDay, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + ", offset " + std::to_string(c.offset / kDay) + " days");
    TempDir logDir;
    const fs::path log = logDir.Path() / "commands.txt";
    SimSession s({"--model", "hf", "--sync-state", std::to_string(c.mode), "--clock-offset", std::to_string(c.offset),
                  "--command-log", log.string()},
                 30);
    ASSERT_TRUE(s.Connect()) << s.sim.Line();
    ASSERT_TRUE(WaitFor([&] { return !ReadLines(log).empty() && ReadLines(log).back() == "Z"; }, 5000));
    // The clock's lines and the enquiry; the identify that comes before them is not counted.
    auto lines = ReadLines(log);
    std::erase(lines, std::string("E"));
    const bool read = lines.front().starts_with("A read");
    const bool set = std::any_of(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with("A set"); });
    EXPECT_EQ(read, c.read);
    EXPECT_EQ(set, c.set);
    EXPECT_EQ(lines.size(), (c.read ? 1U : 0U) + (c.set ? 1U : 0U) + 1U) << "nothing else of the clock was sent";
    if (c.set) {
      EXPECT_TRUE(WaitFor([&] { return s.Logged("Aurisond HF time synced to "); }, 3000))
          << "the answer to the set is reported";
    }
  }
}

TEST(UnitClock, TheBatteryReportAfterIdentifyReachesTheStatusStore) {
  // Detail level 2: the identify reply itself carries no battery values.
  SimSession s({"--model", "hf", "--detail", "2", "--battery", "37", "--battery-state", "1"}, 30);
  ASSERT_TRUE(s.Connect()) << s.sim.Line();
  EXPECT_TRUE(WaitFor([&] { return s.hylo.Data().Status().Copy().batteryLevel == 37; }, 3000));
  EXPECT_EQ(s.hylo.Data().Status().Copy().batteryState, 1);
}

// Unusable descriptions (zero rate, extreme values, channel type 255), each with data, arrive
// between good ones: the recording goes on with the signal to its end. Repeated to catch a race.
TEST(BadDescriptions, ARecordingKeepsItsSignalTo20RunsInARow) {
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    SimSession s(
        {"--model", "hf", "--rate", "16000", "--tone", "1000:-6", "--noise", "-120", "--bad-descriptions", "7"}, 30);
    ASSERT_TRUE(s.Connect()) << s.sim.Line();
    const fs::path folder = s.dir.Path() / "wav";
    s.hylo.Groups().wav.path = folder.string();
    s.hylo.Data().Logging().StartWavLogging();
    s.hylo.JobSetup().SetStreamTransports({TRANSPORT_TCP, TRANSPORT_OFF});
    s.hylo.Scan().StartScanningCallback();
    const auto malformed = s.hylo.Data().StreamMessages().Malformed();
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    s.hylo.Scan().StopCallback();
    EXPECT_GT(s.hylo.Data().StreamMessages().Malformed(), malformed + 6) << "the bad ones and their data are dropped";

    const fs::path file = folder / "Data_00001.wav";
    const auto sound = ReadSound(file);
    ASSERT_TRUE(sound) << file;
    ASSERT_EQ(sound->subtype, SF_FORMAT_PCM_24);
    const std::uint64_t samples = sound->samples.size();
    ASSERT_GE(samples, 16000U) << "at least one whole second";
    // The last quarter second carries the -6 dBFS tone (0.35 rms; about a third of it is
    // missed under the bad descriptions), not silence.
    double sum = 0;
    const std::uint64_t tail = 4000;
    for (std::uint64_t i = samples - tail; i < samples; ++i) {
      const double x = sound->samples[i] / 2147483648.0;
      sum += x * x;
    }
    const double rms = std::sqrt(sum / tail);
    EXPECT_GT(rms, 0.1) << "rms of the last quarter second";
  }
}
