// Listening: decimation, loudness shifts, silence for missed samples, the buffer ring with a
// device that holds its buffers, one notice for a missing device, replay pacing, and the
// listening filter against scipy.signal's designs.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "processing/AudioFilter.h"
#include "processing/HyloAudio.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace hylo;

namespace {

// Plays into memory; while `hold` is set each Play waits, like a card whose queue is full.
struct Recorder {
  std::mutex lock;
  std::condition_variable released;
  bool hold = false;
  std::string failOpen;
  std::vector<std::vector<std::int16_t>> played;
  struct Device final : AudioDevice {
    Recorder& r;
    explicit Device(Recorder& rec) : r(rec) {}
    std::string Open(int) override {
      std::lock_guard guard(r.lock);
      return r.failOpen;
    }
    std::string Play(std::span<const std::int16_t> samples) override {
      std::unique_lock lock(r.lock);
      r.released.wait(lock, [this] { return !r.hold; });
      r.played.emplace_back(samples.begin(), samples.end());
      return {};
    }
    void Close() override {}
  };
};

WaveformRecord Tone(std::uint32_t rate, std::uint64_t first, double amplitude = 1 << 22) {
  WaveformRecord r{};
  r.sampleRate = rate;
  r.sampleFormat = 3;
  r.sampleCount = 1000;
  r.firstSample = first;
  for (int i = 0; i < 1000; ++i)
    r.samples[i] = static_cast<std::int32_t>(
        amplitude * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(first + i) / rate));
  return r;
}

struct Audio : ::testing::Test {
  Recorder rec;
  HyloAudio audio{[this] { return std::make_unique<Recorder::Device>(rec); }};
  std::vector<std::string> notices;
  void SetUp() override {
    audio.SetNotice([this](const std::string& n) { notices.push_back(n); });
    audio.ToggleAudioActive(true);
  }
  void Feed(std::uint32_t rate, int records, std::uint64_t first = 0) {
    for (int i = 0; i < records; ++i) audio.FeedAudio(Tone(rate, first + 1000ULL * static_cast<unsigned>(i)));
  }
};

}  // namespace

TEST(AudioMath, DecimationShiftsAndLevels) {
  for (auto [rate, d] : {std::pair{128000U, 2}, {64000U, 1}, {8000U, 1}, {512000U, 8}, {200000U, 3}})
    EXPECT_EQ(AudioDecimation(rate), d) << rate;
  struct Shift {
    int audioShift, gain, bytes, k;
  } shifts[] = {{0, 12, 3, 6}, {0, 0, 4, 0}, {0, 0, 2, 16}, {-3, 20, 4, -6}, {2, 2, 3, 10}};
  for (const auto& s : shifts) EXPECT_EQ(AudioShiftBits(s.audioShift, s.gain, s.bytes), s.k) << s.gain;
  struct Level {
    AudioLevelInputs in;
    int shift;
  } levels[] = {{{50, 100, 3, -171, 0}, 3}, {{50, 100, 7, -171, 0}, -25}, {{0, 15, 8, -171, 18}, 22}};
  for (const auto& l : levels) EXPECT_EQ(AudioShiftFor(l.in), l.shift) << l.in.unit;
  struct Pcm {
    double v;
    int k;
    int pcm;
  } pcms[] = {{1 << 20, 6, 1 << 10},  {-(1 << 20), 6, -(1 << 10)},  {1 << 28, 6, 32767}, {-(1 << 28), 6, -32768},
              {1 << 30, -4, 1 << 10}, {-(1 << 30), -4, -(1 << 10)}, {3e12, 0, 32767},    {NAN, 3, 0}};
  for (const auto& p : pcms) EXPECT_EQ(AudioPcm(p.v, p.k), p.pcm) << p.v << " k " << p.k;
}

TEST_F(Audio, MissedSamplesBecomeAtMostOneSecondOfSilence) {
  Feed(8000, 1);
  WaveformRecord gap = Tone(8000, 11000);
  gap.missedSamples = 10000;
  audio.FeedAudio(gap);  // 1000 + 8000 silence + 1000 = 10000: one full second
  Feed(8000, 6, 12000);  // 16000 in all: two seconds
  ASSERT_TRUE(audio.Flush(5000));
  std::lock_guard guard(rec.lock);
  ASSERT_EQ(rec.played.size(), 2U) << "the silence is one second, not 10000 samples";
  const auto& first = rec.played[0];
  EXPECT_EQ(first.size(), 8000U) << "one second at 8000 S/s, not decimated";
  int loud = 0;
  for (std::size_t i = 0; i < 1000; ++i) loud += std::abs(first[i]) > 1000;
  EXPECT_GT(loud, 100) << "the tone before the gap";
  for (std::size_t i = 3000; i < 9000 && i < first.size(); ++i) ASSERT_EQ(first[i], 0) << i;
}

TEST_F(Audio, TenBuffersInFlightThenSecondsAreDroppedAndBuffersComeBack) {
  {
    std::lock_guard guard(rec.lock);
    rec.hold = true;
  }
  Feed(8000, 8 * 13);  // 13 seconds against a device that takes nothing
  EXPECT_EQ(audio.InFlight(), kAudioBuffers);
  EXPECT_GE(audio.DroppedSeconds(), 2U);
  {
    std::lock_guard guard(rec.lock);
    rec.hold = false;
  }
  rec.released.notify_all();
  ASSERT_TRUE(audio.Flush(5000));
  EXPECT_EQ(audio.InFlight(), 0);
  Feed(8000, 8, 13 * 8000);  // a recycled buffer takes the next second
  ASSERT_TRUE(audio.Flush(5000));
  std::lock_guard guard(rec.lock);
  EXPECT_EQ(rec.played.size(), kAudioBuffers + 1U);
}

TEST_F(Audio, MissingDeviceIsToldOnceAndMuteSilences) {
  rec.failOpen = "no device here";
  Feed(8000, 20);
  WaveformRecord restart = Tone(8000, 20000);
  restart.restart = 1;
  audio.FeedAudio(restart);
  ASSERT_EQ(notices.size(), 1U);
  EXPECT_NE(notices[0].find("no device here"), std::string::npos);
  rec.failOpen.clear();
  audio.ToggleAudioActive(true);
  audio.SetMute(true);
  Feed(8000, 9, 21000);
  ASSERT_TRUE(audio.Flush(5000));
  std::lock_guard guard(rec.lock);
  ASSERT_EQ(rec.played.size(), 1U);
  for (std::int16_t v : rec.played[0]) ASSERT_EQ(v, 0);
}

TEST_F(Audio, ReplayAsksForMoreWhileFewBuffersAreQueued) {
  std::atomic<int> steps{0};
  std::atomic<bool> replaying{false};
  audio.SetReplayPacing([&] { return replaying.load(); }, [&] { ++steps; });
  Feed(8000, 3);
  EXPECT_EQ(steps, 0) << "live data does not pace anything";
  replaying = true;
  Feed(8000, 3, 3000);
  EXPECT_EQ(steps, 3);
  audio.ToggleAudioActive(false);
  Feed(8000, 3, 6000);
  EXPECT_EQ(steps, 3) << "audio off: the replay keeps its own ticks";
}

TEST(AudioFilter, ResponseAgreesWithScipyFrom50HzTo20kHz) {
  test::TempDir dir;
  const auto py = dir.Path() / "response.py";
  std::ofstream(py) << "import sys, numpy as np\nfrom scipy import signal\n"
                       "fs = float(sys.argv[1]); f = np.array([float(v) for v in sys.argv[2:]])\n"
                       "if fs < 64000: sos = signal.butter(4, 150, 'highpass', fs=fs, output='sos')\n"
                       "else: sos = signal.cheby1(4, 0.1, [150, 20000], 'bandpass', fs=fs, output='sos')\n"
                       "w, h = signal.sosfreqz(sos, worN=f, fs=fs)\n"
                       "print(' '.join(repr(float(v)) for v in np.abs(h)))\n";
  for (double fs : {2000.0, 8000.0, 16000.0, 48000.0, 64000.0, 128000.0, 512000.0}) {
    AudioFilter filter;
    filter.Design(fs);
    EXPECT_EQ(filter.Type(),
              fs < 64000 ? AudioFilter::Kind::kButterworthHighPass : AudioFilter::Kind::kChebyshevBandPass);
    std::vector<double> freqs;
    for (double f = 50; f <= std::min(20000.0, 0.45 * fs); f *= 1.15) freqs.push_back(f);
    std::string command = std::string(HYLO_PYTHON) + " " + test::Quoted(py) + " " + std::to_string(fs);
    for (double f : freqs) command += " " + std::to_string(f);
    const auto result = test::RunTool(command);
    ASSERT_EQ(result.status, 0) << result.output;
    std::istringstream in(result.output);
    for (double f : freqs) {
      double expected = 0;
      ASSERT_TRUE(in >> expected) << result.output;
      const auto db = [](double m) { return 20 * std::log10(std::max(m, 1e-6)); };
      EXPECT_NEAR(db(filter.Magnitude(f)), db(expected), 0.5) << fs << " S/s at " << f << " Hz";
    }
  }
}

TEST(AudioFilter, TheOperatorsChoiceWhereTheRateAllowsIt) {
  using C = AudioFilter::Choice;
  using K = AudioFilter::Kind;
  struct Case {
    double fs;
    C choice;
    K kind;
  } cases[] = {{8000, C::kAuto, K::kButterworthHighPass},
               {64000, C::kAuto, K::kChebyshevBandPass},
               {64000, C::kHighPass, K::kButterworthHighPass},
               {48000, C::kBandPass, K::kChebyshevBandPass},
               {16000, C::kBandPass, K::kButterworthHighPass},
               {128000, C::kOff, K::kNone},
               {500, C::kAuto, K::kNone}};
  for (const auto& c : cases) {
    AudioFilter f;
    f.Design(c.fs, c.choice);
    EXPECT_EQ(f.Type(), c.kind) << c.fs << " choice " << static_cast<int>(c.choice);
    if (c.kind == K::kNone) {
      EXPECT_DOUBLE_EQ(f.Magnitude(1000), 1.0);
    }
  }
}
