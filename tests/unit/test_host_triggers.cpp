// The host detector's state machine on hand-made spectra.
#include <gtest/gtest.h>

#include <cstring>

#include "processing/HostTriggers.h"

namespace hylo {
namespace {

constexpr std::uint32_t kDay = 1765000000;  // a real calendar date (December 2025)

EpochTrigger Band(std::uint16_t type, std::uint32_t lo, std::uint32_t hi, std::int16_t threshold, std::uint16_t dur,
                  std::uint16_t extend, std::uint8_t slot = 0) {
  EpochTrigger t;
  t.type = type;
  t.slot = slot;
  t.active = 1;
  t.dur = dur;
  t.extend = extend;
  t.minFreq = lo;
  t.maxFreq = hi;
  t.threshold = threshold;
  t.effect = kEffectReport;
  return t;
}

// 64000 samples/s, 512 per record: 125 records per second.
FftParameters Rate64k() { return {1024, 1, 512, 4, 1, 64000}; }

SpectrumRecord Record(std::uint8_t level, double seconds = 1.0 / 125) {
  SpectrumRecord r{};
  std::memset(r.bins, level, sizeof r.bins);
  r.recordSeconds = seconds;
  return r;
}

struct Detector {
  HostTriggers triggers;
  TriggerOutput out;
  Detector() {
    triggers.SetSensitivity(-171);
    triggers.SetFftParameters(Rate64k());
  }
  std::uint8_t Feed(std::uint8_t level, std::uint32_t t, std::size_t slot = 0) {
    out.Clear();
    triggers.Evaluate(Record(level), t, "", out);
    return out.states[slot];
  }
};

TEST(HostTriggers, BandBinsFollowTheRateAndLength) {
  Detector d;
  ASSERT_EQ(d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 1, 0).Encode()), 0);
  EXPECT_EQ(d.triggers.Slot(0).lowBin, 16);
  EXPECT_EQ(d.triggers.Slot(0).highBin, 32);
  EXPECT_EQ(d.triggers.Slot(0).durationRecords, 125u);
  EXPECT_EQ(d.triggers.Slot(0).thresholdCode, 100 - 171 + 180);
}

TEST(HostTriggers, DurationNeedsConsecutiveRecordsAndAGapRestarts) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 1, 0).Encode());
  for (int i = 0; i < 124; ++i) EXPECT_EQ(d.Feed(200, kDay), kSignalInactive);
  EXPECT_EQ(d.Feed(0, kDay), kNoSignalInactive);  // the gap: the count starts again
  for (int i = 0; i < 124; ++i) ASSERT_EQ(d.Feed(200, kDay + 1), kSignalInactive) << i;
  EXPECT_TRUE(d.out.lines.empty());
  EXPECT_EQ(d.Feed(200, kDay + 2), kSignalActive);
  ASSERT_EQ(d.out.lines.size(), 1u);
  // The line names the second the run of signal began.
  EXPECT_EQ(d.out.lines[0], "2025-12-06 05:46:41,U Hylo,Epoch 1,Seq 0,Hz 1000-2000 > 100uPa,1sec\r\n");
  EXPECT_EQ(d.triggers.Slot(0).lastState, kSignalActive);
}

TEST(HostTriggers, EventTimeIsTheSecondTheSignalBegan) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 1, 0).Encode());
  // A tone switched on at a whole second: all 125 records of its first second carry that time.
  for (int i = 0; i < 125; ++i) d.Feed(200, kDay + 3);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_EQ(d.out.lines[0].substr(0, 20), EventTimeText(kDay + 3));
}

TEST(HostTriggers, ExtendKeepsTheEventForItsSeconds) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 0, 5).Encode());
  EXPECT_EQ(d.Feed(200, kDay), kSignalActive);  // DUR 0: one record is enough
  for (std::uint32_t s = 1; s <= 5; ++s) EXPECT_EQ(d.Feed(0, kDay + s), kNoSignalActive) << s;
  EXPECT_EQ(d.Feed(0, kDay + 6), kNoSignalInactive);
  EXPECT_EQ(d.Feed(200, kDay + 7), kSignalActive);  // a new event
  EXPECT_EQ(d.out.lines.size(), 1u);
}

TEST(HostTriggers, BelowThresholdFiresOnSilence) {
  Detector d;
  d.triggers.Configure(Band(kBelowThreshold, 1000, 2000, 100, 0, 0).Encode());
  EXPECT_EQ(d.Feed(200, kDay), kNoSignalInactive);
  EXPECT_EQ(d.Feed(10, kDay), kSignalActive);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_NE(d.out.lines[0].find("Hz 1000-2000 < 100uPa,0sec"), std::string::npos);
}

TEST(HostTriggers, BandAboveFourTenthsOfTheRateNeverSignals) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 25601, 30000, 100, 0, 0).Encode());
  EXPECT_FALSE(d.triggers.Slot(0).valid);
  EXPECT_EQ(d.Feed(255, kDay), kNoSignalInactive);
}

TEST(HostTriggers, CountLineGivesTheActiveShare) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 0, 0).Encode());
  d.triggers.ResetCounting(60);
  std::vector<std::string> lines;
  for (int i = 0; i < 60 * 125; ++i) {
    d.out.Clear();
    d.triggers.Evaluate(Record(i % 2 ? 200 : 0), kDay + 60 + static_cast<std::uint32_t>(i / 125), "", d.out);
    for (const auto& l : d.out.lines) {
      if (l.find("Active") != std::string::npos) lines.push_back(l);
    }
  }
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Active 50%,Duration(sec) 60,Epoch 1,Hz 1000-2000 > 100uPa,\r\n"), std::string::npos);
}

TEST(HostTriggers, RecordsThatFailTheCheckAreIgnored) {
  struct Case {
    const char* name;
    std::uint16_t effect, refType;
    int code;
  };
  for (const Case c :
       {Case{"effect 0", 0, 0, 252}, Case{"foreign effect bit", 33, 0, 252}, Case{"reference type 2", 32, 2, 248}}) {
    Detector d;
    EpochTrigger t = Band(kAboveThreshold, 1000, 2000, 100, 0, 0);
    t.effect = c.effect;
    t.refType = c.refType;
    EXPECT_EQ(d.triggers.Configure(t.Encode()), c.code) << c.name;
    EXPECT_EQ(d.triggers.Slot(0).type, kEmptyTrigger) << c.name;
  }
}

TEST(HostTriggers, ClickTriggerFiresOnTheScoreAndStaysInItsSlot) {
  Detector d;
  ClickTriggerRecord click;
  click.enabled = 1;
  click.limit = 40;
  auto bytes = click.Encode();
  bytes[2] = 200;  // a slot byte out of range cannot move it
  ASSERT_EQ(d.triggers.Configure(bytes), 0);
  SpectrumRecord r = Record(0);
  r.clickScoreValid = 1;
  r.clickScore = 41;
  r.firstSample = 77;
  d.triggers.Evaluate(r, 1000, "", d.out);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_EQ(d.out.lines[0], "Secs 1000 U Hylo,Epoch 6,Seq 77,Click > 40,0 sec,\r\n");
  EXPECT_EQ(d.out.states[kClickSlot], kSignalActive);
}

TEST(HostTriggers, ClearAllKeepsTheClickTrigger) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, 100, 0, 0, 2).Encode());
  ClickTriggerRecord click;
  click.enabled = 1;
  d.triggers.Configure(click.Encode());
  EpochTrigger clear;
  clear.slot = 7;
  d.triggers.Configure(clear.Encode());
  EXPECT_EQ(d.triggers.Slot(2).type, kEmptyTrigger);
  EXPECT_EQ(d.triggers.Slot(kClickSlot).type, kClickTrigger);
}

TEST(HostTriggers, ReplayedFileNameEndsTheLine) {
  Detector d;
  d.triggers.Configure(Band(kAboveThreshold, 1000, 2000, -60, 0, 0).Encode());
  d.out.Clear();
  d.triggers.Evaluate(Record(200), kDay, "take1.wav", d.out);
  ASSERT_EQ(d.out.lines.size(), 1u);
  EXPECT_NE(d.out.lines[0].find("> -60uPa,0sec,take1.wav\r\n"), std::string::npos);
}

}  // namespace
}  // namespace hylo
