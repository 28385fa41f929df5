#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <vector>

#include "processing/HyloImpulse.h"
#include "processing/HyloTrigger.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace hylo;
using hylo::test::TempDir;

namespace {

constexpr double kSensitivity = -171;

// A Hann-windowed tone burst and an exponentially decaying tone, in volts.
std::vector<double> Burst(int rate, double hz, double seconds, double volts, std::size_t lead = 0) {
  const auto n = static_cast<std::size_t>(seconds * rate);
  std::vector<double> x(lead + n + lead);
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1));
    x[lead + i] = volts * w * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
  }
  return x;
}

std::vector<double> Decay(int rate, double hz, double tau, double volts, std::size_t count) {
  std::vector<double> x(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    x[i] = volts * std::exp(-t / tau) * std::sin(2 * std::numbers::pi * hz * t);
  }
  return x;
}

ImpulseRecord Record(int rate, const std::vector<double>& x) {
  ImpulseRecord r{};
  r.sampleRate = rate;
  r.sampleCount = static_cast<std::uint32_t>(std::min<std::size_t>(x.size(), kImpulseMaxSamples));
  std::copy_n(x.begin(), r.sampleCount, r.samples);
  return r;
}

}  // namespace

TEST(ImpulseMeasure, AgreesWithNumpyAndScipy) {
  struct Case {
    const char* name;
    int rate;
    std::vector<double> samples;
  };
  const std::vector<Case> cases = {
      {"burst 64 kHz", 64000, Burst(64000, 2000, 0.02, 0.5, 300)},
      {"burst 128 kHz, decimated by 2", 128000, Burst(128000, 5000, 0.01, 0.2, 500)},
      {"decay 48 kHz", 48000, Decay(48000, 800, 0.004, 1.0, 6000)},
      {"burst 4 kHz", 4000, Burst(4000, 300, 0.05, 0.05, 100)},
      {"long burst 64 kHz, more samples than the FFT", 64000, Burst(64000, 150, 0.35, 0.3, 200)},
      {"decay 512 kHz", 512000, Decay(512000, 20000, 0.0005, 0.1, 25000)},
      {"burst 1 kHz", 1000, Burst(1000, 100, 0.2, 1.0, 50)},
  };
  if (!test::HaveTool("/usr/bin/python3")) GTEST_SKIP() << "no python3";
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir.Path() / "x.f64";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.samples.data()),
               static_cast<std::streamsize>(std::min<std::size_t>(c.samples.size(), kImpulseMaxSamples) * 8));
    const auto out =
        test::RunTool(std::string("/usr/bin/python3 ") + HYLO_TEST_TOOLS_DIR + "/impulse_reference.py " +
                      test::Quoted(file) + " " + std::to_string(c.rate) + " " + std::to_string(kSensitivity));
    ASSERT_EQ(out.status, 0) << out.output;
    std::istringstream in(out.output);
    double sel = 0, spl = 0, pk = 0;
    int start = 0, duration = 0, bands = 0, length = 0;
    in >> sel >> spl >> pk >> start >> duration >> bands >> length;
    ASSERT_TRUE(in) << out.output;

    ImpulseRecord r = Record(c.rate, c.samples);
    ImpulseMeasurement measure;
    ASSERT_TRUE(measure.Measure(r, kSensitivity));
    EXPECT_NEAR(r.sel, sel, 0.1);
    EXPECT_NEAR(r.spl, spl, 0.1);
    EXPECT_NEAR(r.pk, pk, 0.1);
    EXPECT_EQ(r.startIndex, start);
    EXPECT_EQ(r.durationSamples, duration);
    EXPECT_EQ(r.bandCount, bands);
    EXPECT_EQ(r.fftLength, length);
    for (int b = 0; b < bands; ++b) {
      double level = 0;
      in >> level;
      EXPECT_NEAR(r.bandLevels[b], level, 0.1) << "band " << b;
    }
    ASSERT_TRUE(in) << out.output;
  }
}

TEST(ImpulseMeasure, BandPlanExposureAndEdgeCases) {
  // rate, FFT length, bands, decimation; bands past half the rate are left out.
  const int plans[][4] = {{64000, 16384, 30, 1}, {128000, 16384, 30, 2}, {48000, 16384, 30, 1},
                          {4000, 1024, 19, 1},   {1000, 256, 13, 1},     {0, 16384, 30, 1}};
  for (const auto& p : plans) {
    const ImpulseBandPlan plan = BandPlanForRate(p[0]);
    EXPECT_EQ(std::vector<int>({plan.fftLength, plan.bands, plan.factor}), std::vector<int>({p[1], p[2], p[3]}))
        << p[0];
  }
  EXPECT_NEAR(AddExposure(120, 120), 123.01, 0.005);
  EXPECT_DOUBLE_EQ(AddExposure(0, 150), 150);
  ImpulseMeasurement measure;
  // A click: one sample carries most of the energy, so what follows it never reaches 90 %.
  std::vector<double> click(2000, 0.0);
  click[700] = 1.0;
  ImpulseRecord r = Record(64000, click);
  ASSERT_TRUE(measure.Measure(r, kSensitivity));
  EXPECT_EQ(r.startIndex, 700);
  EXPECT_EQ(r.durationSamples, 2000 - 700);
  // Nothing to measure: no samples, or no rate; a count above the record's room is held to it.
  ImpulseRecord empty = Record(64000, {}), noRate = Record(0, click), big = Record(64000, Burst(64000, 1000, 0.3, 0.1));
  EXPECT_FALSE(measure.Measure(empty, kSensitivity));
  EXPECT_FALSE(measure.Measure(noRate, kSensitivity));
  big.sampleCount = 1u << 30;
  ASSERT_TRUE(measure.Measure(big, kSensitivity));
  EXPECT_EQ(big.sampleCount, static_cast<std::uint32_t>(kImpulseMaxSamples));
}

TEST(ImpulseFilter, DesignMatchesScipyButter) {
  // high-pass?, corner, rate, then b0, b1, a1 from scipy.signal.butter(1, corner, btype, fs=rate).
  const double cases[][6] = {{1, 15, 64000, 0.999264231, -0.999264231, -0.998528462},
                             {1, 1000, 64000, 0.953173585, -0.953173585, -0.906347169},
                             {0, 50, 4000, 0.037804754, 0.037804754, -0.924390492},
                             {0, 50, 100, 1, 0, 0}};  // a corner at half the rate: passed unchanged
  for (const auto& c : cases) {
    const auto f = c[0] ? FirstOrderFilter::HighPass(c[1], c[2]) : FirstOrderFilter::LowPass(c[1], c[2]);
    EXPECT_NEAR(f.b0, c[3], 1e-8);
    EXPECT_NEAR(f.b1, c[4], 1e-8);
    EXPECT_NEAR(f.a1, c[5], 1e-8);
  }
}

namespace {

// A block of counts: low noise, with bursts of `peak` counts starting at the given indices.
std::vector<std::int32_t> Block(std::uint32_t rate, std::size_t n, const std::vector<std::size_t>& starts,
                                double peak = 1e6, double burstSeconds = 0.01) {
  std::vector<std::int32_t> x(n);
  std::uint32_t seed = 12345;
  for (auto& v : x) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<std::int32_t>(seed >> 28) - 8;  // ±8 counts of noise
  }
  const auto len = static_cast<std::size_t>(burstSeconds * rate);
  for (const std::size_t s : starts) {
    for (std::size_t i = 0; i < len && s + i < n; ++i) {
      const double w = std::sin(std::numbers::pi * static_cast<double>(i) / static_cast<double>(len));
      // A quarter-period phase so the first sample of the burst is already positive.
      x[s + i] += static_cast<std::int32_t>(peak * w * std::cos(2 * std::numbers::pi * 0.2 * static_cast<double>(i)));
    }
  }
  return x;
}

}  // namespace

TEST(ImpulseCandidateStage, FindsImpulsesInsideTheBlockAtEveryRate) {
  struct Case {
    const char* name;
    std::uint32_t rate;
    std::size_t n;
    std::vector<std::size_t> bursts;
    std::size_t expected;
  };
  const std::vector<Case> cases = {
      {"one at 64 kHz", 64000, 64000, {20000}, 1},
      {"two at 48 kHz", 48000, 48000, {10000, 30000}, 2},
      {"at most three per block", 64000, 64000, {5000, 15000, 25000, 35000, 45000}, 3},
      {"4 kHz, no envelope high-pass", 4000, 4000, {1000, 3000}, 2},
      {"at the very start of the block", 64000, 64000, {0}, 1},
      {"running off the end of the block", 64000, 64000, {63900}, 1},
      {"quiet block", 64000, 64000, {}, 0},
  };
  ImpulseCandidates stage;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WaveBlockInfo info;
    info.sampleRate = c.rate;
    info.voltsPerCount = 1e-6;
    info.firstSample = 1000000;
    const auto samples = Block(c.rate, c.n, c.bursts);
    const auto cuts = stage.Find(info, samples, {});
    ASSERT_EQ(cuts.size(), c.expected);
    for (std::size_t k = 0; k < cuts.size(); ++k) {
      const auto& cut = cuts[k];
      // Within a few ms of the burst, never outside the block, at most the record's room.
      EXPECT_LE(cut.start, c.bursts[k] + c.rate / 200);
      EXPECT_GE(cut.start + 1, c.bursts[k]);
      EXPECT_LE(cut.from + cut.count, c.n);
      EXPECT_LE(cut.count, static_cast<std::size_t>(kImpulseMaxSamples));
      EXPECT_GT(cut.count, 0U);
      EXPECT_GT(cut.peak, 0.3);  // 1 V bursts; the last one cut short by the block's end
      ImpulseRecord r;
      stage.FillRecord(cut, info, kSensitivity, r);
      EXPECT_EQ(r.runningIndex, 1000000 + cut.from);
      EXPECT_EQ(r.blockStart, static_cast<std::int32_t>(cut.start));
      EXPECT_EQ(r.samples[cut.start - cut.from], stage.Signal()[cut.start]);
      EXPECT_NEAR(r.candidatePeak, 20 * std::log10(cut.peak) + 171, 1e-9);
    }
  }
}

TEST(ImpulseCandidateStage, CopyLengthAndTinyBlocks) {
  // pre 10 ms, post 50 ms at 64 kHz: a = 640, b = L + 3200, c = L + a + b.
  ImpulseCandidates stage;
  WaveBlockInfo info{0, 64000, 0, 1e-6, 0, 24};
  const auto cuts = stage.Find(info, Block(64000, 64000, {20000}), {});
  ASSERT_EQ(cuts.size(), 1U);
  EXPECT_EQ(cuts[0].from, cuts[0].start - 640);
  EXPECT_EQ(cuts[0].count, std::min<std::size_t>(25000, 2 * (cuts[0].end - cuts[0].start) + 640 + 3200));
  const std::vector<std::int32_t> one{5}, two{0, 1000};
  EXPECT_TRUE(stage.Find(info, {}, {}).empty());
  EXPECT_TRUE(stage.Find(info, one, {}).empty());  // the mean removed leaves nothing
  for (const auto& cut : stage.Find(info, two, {})) EXPECT_LE(cut.from + cut.count, two.size());
  info.sampleRate = 0;
  EXPECT_TRUE(stage.Find(info, two, {}).empty());
}

TEST(ImpulseThread, CountsSumsResetsAndReportsEachImpulse) {
  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  HyloImpulse impulse{nodes};
  std::vector<ImpulseRecord> shown;
  std::vector<std::string> texts;
  int resets = 0, logged = 0;
  auto sink = [&](MessageNode* n) {
    if (n->type == MSG_TEXT) texts.emplace_back(reinterpret_cast<const char*>(n->payload) + 6);
    if (n->type == MSG_RESET_CHARTS) ++resets;
    nodes.ReleaseNode(n);
    return 1;
  };
  HyloImpulse::Context c;
  c.sensitivity = [] { return -171; };
  c.postDisplay = [&](MessageNode* n) {
    if (n->type == MSG_IMPULSE) shown.push_back(n->As<ImpulseRecord>());
    return sink(n);
  };
  c.postLog = [&](MessageNode* n) {
    logged += n->type == MSG_IMPULSE;
    return sink(n);
  };
  impulse.SetContext(c);
  auto send = [&](int type, const std::vector<double>& x) {
    MessageNode* n = nodes.AllocNode(type);
    ASSERT_NE(n, nullptr);
    if (type == MSG_IMPULSE) {
      n->As<ImpulseRecord>() = Record(64000, x);
      n->As<ImpulseRecord>().timeStamp = 1700000000;  // 2023-11-14 22:13:20 UTC
      n->As<ImpulseRecord>().blockStart = 1234;
    }
    if (!impulse.Handle(*n)) nodes.ReleaseNode(n);
  };
  const auto x = Burst(64000, 1000, 0.02, 0.3, 200);
  send(MSG_IMPULSE, x);
  send(MSG_IMPULSE, x);
  ASSERT_EQ(shown.size(), 2U);
  EXPECT_EQ(logged, 2);
  ASSERT_EQ(texts.size(), 4U);  // the event line to the log and to the display
  EXPECT_EQ(shown[1].eventNumber, 2);
  EXPECT_NEAR(shown[1].cumulativeSel, shown[0].sel + 10 * std::log10(2.0), 1e-9);
  char expected[256];
  std::snprintf(expected, sizeof expected,
                "[2023-11-14 22:13:20 Impulse]: SEL=%3.2f  SPL=%3.2f  PK=%3.2f Duration=%d samples    Samples into "
                "second:1234 \n",
                shown[0].sel, shown[0].spl, shown[0].pk, shown[0].durationSamples);
  EXPECT_EQ(texts[0], expected);

  send(MSG_RESET_CHARTS, {});
  EXPECT_EQ(resets, 1) << "the reset goes on to the displays";
  send(MSG_IMPULSE, x);
  ASSERT_EQ(shown.size(), 3U);
  EXPECT_EQ(shown[2].eventNumber, 1);
  EXPECT_DOUBLE_EQ(shown[2].cumulativeSel, shown[2].sel);
  send(MSG_IMPULSE, {});  // nothing to measure: dropped, no number used
  EXPECT_EQ(shown.size(), 3U);
  EXPECT_EQ(impulse.EventNumber(), 1);
  EXPECT_EQ(impulse.Measured(), 3U);
  EXPECT_EQ(nodes.FreeCount(), kNodeCount);
}
