#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "processing/HyloProcWave.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace hylo;

namespace {

struct Wave : ::testing::Test {
  HyloNodes nodes;
  HyloProcWave wave{nodes};
  std::vector<SpectrumRecord> spectra;
  int fftTransport = 0;
  int waveTransport = 1;
  double scanInterval = 0.0625;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    HyloProcWave::Context c;
    c.fftTransport = [this] { return fftTransport; };
    c.waveTransport = [this] { return waveTransport; };
    c.scanInterval = [this] { return scanInterval; };
    c.setScanInterval = [this](double t) { scanInterval = t; };
    c.postFft = [this](MessageNode* n) {
      spectra.push_back(n->As<SpectrumRecord>());
      nodes.FreeNode(n);
      return 1;
    };
    wave.SetContext(c);
  }
  WaveformRecord Record(std::uint32_t rate, std::uint64_t first, const std::vector<std::int32_t>& samples,
                        double range = 5.0, std::uint8_t format = 3) {
    WaveformRecord r{};
    r.sampleFormat = format;
    r.sampleRate = rate;
    r.firstSample = first;
    r.timeStamp = 1700000000;
    r.rangeVolts = range;
    r.sampleCount = static_cast<std::uint32_t>(samples.size());
    std::copy(samples.begin(), samples.end(), r.samples);
    return r;
  }
  // `x` in records of 1000 samples; `after(n)` runs once record n is processed.
  void Feed(std::uint32_t rate, const std::vector<std::int32_t>& x,
            const std::function<void(std::size_t)>& after = {}) {
    for (std::size_t n = 0; (n + 1) * 1000 <= x.size(); ++n) {
      auto r = Record(rate, n * 1000,
                      {x.begin() + static_cast<std::ptrdiff_t>(n * 1000),
                       x.begin() + static_cast<std::ptrdiff_t>(n * 1000 + 1000)});
      wave.ProcessWaveform(r);
      if (after) after(n);
    }
  }
};

std::vector<std::int32_t> Tone(int n, double freq, double rate, double amplitude, int offset = 0) {
  std::vector<std::int32_t> x(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    x[static_cast<std::size_t>(i)] =
        static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * M_PI * freq * (i + offset) / rate)));
  }
  return x;
}

std::string Numpy(const test::TempDir& dir, const std::string& script, const std::vector<std::int32_t>& samples) {
  const auto data = dir.Path() / "samples.txt";
  std::ofstream out(data);
  for (auto v : samples) out << v << "\n";
  out.close();
  const auto py = dir.Path() / "check.py";
  std::ofstream(py) << "import numpy as np, sys\nx = np.loadtxt(sys.argv[1], dtype=np.int64)\n" << script;
  return test::RunTool(std::string(HYLO_PYTHON) + " " + test::Quoted(py) + " " + test::Quoted(data)).output;
}

}  // namespace

TEST(BlockStatistics, FullScaleSquareWavesMatchNumpy) {
  test::TempDir dir;
  for (std::int64_t amplitude : {std::int64_t{8388607}, std::int64_t{2147483647}}) {
    std::vector<std::int32_t> square(1000);
    for (std::size_t i = 0; i < square.size(); ++i) {
      square[i] = static_cast<std::int32_t>(i % 10 < 5 ? amplitude : -amplitude - 1);
    }
    const BlockStats s = ComputeBlockStats(square);
    const std::string out = Numpy(dir, "print(repr(float(np.std(x.astype(np.float64), ddof=1))))", square);
    const double expected = std::stod(out);
    EXPECT_NEAR(s.standardDeviation, expected, expected * 1e-12) << "amplitude " << amplitude;
    EXPECT_EQ(s.peakToPeak, 2 * amplitude + 1);
    EXPECT_EQ(s.mean, -1) << "a mean of −0.5 rounds away from zero";
    EXPECT_NEAR(s.energyDb, 10 * std::log10(500.0 * amplitude * amplitude + 500.0 * (amplitude + 1) * (amplitude + 1)),
                1e-9);
  }
  const BlockStats silent = ComputeBlockStats(std::vector<std::int32_t>(100, 42));
  EXPECT_EQ(silent.standardDeviation, 0);
  EXPECT_EQ(silent.mean, 42);
  EXPECT_EQ(ComputeBlockStats(std::vector<std::int32_t>{7}).standardDeviation, 0);
}

TEST(BlockStatistics, IndexGapWrapsAndScanSnapping) {
  EXPECT_EQ(IndexGap(500, 0), 0U);
  EXPECT_EQ(IndexGap(1500, 1000), 500U);
  EXPECT_EQ(IndexGap(5000, 70000), 5000U + 65535U - 70000U);
  EXPECT_EQ(IndexGap(10, 70000), 0U) << "a wrap that would count negative samples counts none";
  EXPECT_EQ(IndexGap(10, 1000), 0U);
  EXPECT_EQ(IndexGap((1ULL << 32) + 10, (1ULL << 32) + 20), 10 + ((1ULL << 32) - 1) - 20);
  EXPECT_DOUBLE_EQ(SnapScanInterval(0.2), 0.125);
  EXPECT_DOUBLE_EQ(SnapScanInterval(0.0005), 0.0005);
}

TEST_F(Wave, FramesPerRecordAndTimesWhenFramesBeganInEarlierRecords) {
  const std::uint32_t rate = 8192;  // two frames per host record
  Feed(rate, Tone(3000, 100, rate, 1e6));
  ASSERT_EQ(spectra.size(), 1U);
  EXPECT_EQ(wave.FramesPerRecord(), 2);
  const SpectrumRecord& s = spectra[0];
  EXPECT_EQ(s.firstSample, 0U);
  EXPECT_EQ(s.recordIndex, 0U);
  // The record ends 48 samples into the third block: its frames began 2000 samples before that block.
  EXPECT_NEAR(s.timeSeconds, 1700000000.0 + (48.0 - 2048.0) / rate, 1e-9);
  EXPECT_EQ(s.timeStamp, 1699999999U);
  Feed(64000, Tone(17000, 100, 64000, 1e6));
  EXPECT_EQ(wave.FramesPerRecord(), 16);
}

TEST_F(Wave, MissedSamplesRestartTheHostFrameAndAreCounted) {
  auto a = Record(1000, 0, Tone(1000, 50, 1000, 1e6));
  wave.ProcessWaveform(a);
  EXPECT_EQ(a.missedSamples, 0U);
  EXPECT_EQ(a.restart, 1);
  auto b = Record(1000, 1500, Tone(1000, 50, 1000, 1e6, 1500));
  wave.ProcessWaveform(b);
  EXPECT_EQ(b.missedSamples, 500U);
  EXPECT_EQ(b.restart, 0);
  EXPECT_TRUE(spectra.empty()) << "the partial frame was dropped with the gap";
  auto c = Record(1000, 2500, Tone(1000, 50, 1000, 1e6, 2500));
  c.gain = 12;
  wave.ProcessWaveform(c);
  EXPECT_EQ(c.restart, 0) << "gain alone is not a format change";
  EXPECT_EQ(spectra.size(), 1U);
  EXPECT_EQ(spectra[0].firstSample, 1500U);
}

TEST_F(Wave, FasterWaveformOverTheCommandLinkTightensTheScanInterval) {
  waveTransport = 3;
  auto r = Record(8000, 0, Tone(500, 50, 8000, 1e6));
  wave.ProcessWaveform(r);
  EXPECT_DOUBLE_EQ(scanInterval, 0.0625) << "500 / 8000 is not below the current interval";
  auto faster = Record(16000, 500, Tone(500, 50, 16000, 1e6));
  wave.ProcessWaveform(faster);
  EXPECT_DOUBLE_EQ(scanInterval, 0.03125);
}

namespace {

std::vector<int> ReadInts(const std::string& text) {
  std::istringstream in(text);
  std::vector<int> values;
  for (int v = 0; in >> v;) values.push_back(v);
  return values;
}

}  // namespace

// Sixteen frames accumulated at 64 kS/s, 24-bit: full scale and 40 dB below, a tone between bins.
TEST_F(Wave, HostFftBytesOfFullScaleAndQuietSinesAgreeWithNumpy) {
  test::TempDir dir;
  const std::uint32_t rate = 64000;
  for (const double amplitude : {8388607.0, 8388607.0 / 100.0}) {
    spectra.clear();
    wave.Reset();
    const auto x = Tone(17000, 5012.3, rate, amplitude);
    Feed(rate, x);
    ASSERT_EQ(spectra.size(), 1U) << "16384 of the 17000 samples make one record";
    const SpectrumRecord& s = spectra[0];
    EXPECT_EQ(s.accumulation, 16);
    const std::vector<int> expected =
        ReadInts(Numpy(dir,
                       "from scipy.signal import get_window\n"
                       "bits, rng, frames = 24, 5.0, 16\n"
                       "ref = 4.259 + 3.0103 + (-60.206 - 20*np.log10(2**bits/(rng*1e9)))\n"
                       "f = x[:frames*1024].astype(np.float64).reshape(frames, 1024)\n"
                       "f = (f - f.mean(axis=1, keepdims=True)) * get_window('hann', 1024)\n"
                       "p = (np.abs(np.fft.rfft(f, axis=1)[:, :512])**2).mean(axis=0)\n"
                       "L = np.where(p != 0, ref + 10*np.log10(np.where(p != 0, p, 1)), 0)\n"
                       "b = np.where(L < 0, 0, np.where(L >= 254.5, 255, np.floor(L + 0.5)))\n"
                       "print(' '.join(str(int(v)) for v in b))\n",
                       x));
    ASSERT_EQ(expected.size(), 512U);
    int worst = 0, peak = 0;
    for (std::size_t k = 0; k < 512; ++k) {
      worst = std::max(worst, std::abs(expected[k] - s.bins[k]));
      if (s.bins[k] > s.bins[peak]) peak = static_cast<int>(k);
    }
    EXPECT_LE(worst, 1) << "amplitude " << amplitude;
    EXPECT_NEAR(peak, 5012.3 * 1024 / rate, 1.0);
    EXPECT_GT(s.bins[peak], 100) << "a real tone, not a clipped or empty spectrum";
  }
}

// Smoothed deviation, peak-to-peak and zero-to-peak between spectra, and block energy, for a
// signal whose amplitude and offset change from block to block.
TEST_F(Wave, RunningLevelsAgreeWithNumpy) {
  test::TempDir dir;
  fftTransport = 1;  // spectra come from the instrument: only the levels are at work
  const std::uint32_t rate = 8000;
  std::vector<std::int32_t> x;
  for (int block = 0; block < 30; ++block) {
    const double amplitude = 1e5 * (1 + block % 7);
    const int offset = (block % 5 - 2) * 3001;
    for (int i = 0; i < 1000; ++i) {
      const double t = (block * 1000 + i) / static_cast<double>(rate);
      x.push_back(static_cast<std::int32_t>(std::lround(offset + amplitude * std::sin(2 * M_PI * 440 * t) +
                                                        0.3 * amplitude * std::sin(2 * M_PI * 1730 * t))));
    }
  }
  std::vector<std::array<double, 4>> ours;
  Feed(rate, x, [&](std::size_t block) {
    if (block % 3 != 2) return;
    SpectrumRecord s{};
    wave.AttachLevels(s);
    EXPECT_EQ(s.levelsValid, 1);
    ours.push_back({s.rmsLevel, s.peakToPeakLevel, s.zeroToPeakLevel, s.energyLevel});
  });
  const std::string out = Numpy(dir,
                                "n, alpha, cref = 1000, 250/8000, 20*np.log10(5.0/2**24)\n"
                                "sm = 0.0; pp = 0; zp = 0\n"
                                "for k in range(len(x)//n):\n"
                                "    b = x[k*n:(k+1)*n]\n"
                                "    s = np.std(b.astype(np.float64), ddof=1)\n"
                                "    sm = s if sm == 0 else (1 - alpha)*sm + alpha*s\n"
                                "    S = int(b.sum()); m = (S + n//2)//n if S >= 0 else -((n//2 - S)//n)\n"
                                "    hi, lo = int(b.max()), int(b.min())\n"
                                "    pp = max(pp, hi - lo); zp = max(zp, hi - m, m - lo)\n"
                                "    e = 10*np.log10(float(sum(int(v)*int(v) for v in b)))\n"
                                "    if k % 3 == 2:\n"
                                "        print(repr(cref + 20*np.log10(sm)), repr(cref + 20*np.log10(pp)),\n"
                                "              repr(cref + 20*np.log10(zp)), repr(e))\n"
                                "        pp = zp = 0\n",
                                x);
  std::istringstream in(out);
  for (std::size_t record = 0; record < ours.size(); ++record) {
    for (std::size_t level = 0; level < 4; ++level) {
      double expected = 0;
      ASSERT_TRUE(in >> expected) << out;
      EXPECT_NEAR(ours[record][level], expected, 1e-9) << "record " << record << " level " << level;
    }
  }
}

TEST_F(Wave, SilentBlocksRepeatThePreviousLevels) {
  fftTransport = 1;
  SpectrumRecord s{};
  auto first = Record(1000, 0, std::vector<std::int32_t>(1000, 7));
  wave.ProcessWaveform(first);
  wave.AttachLevels(s);
  EXPECT_EQ(s.levelsValid, 0) << "silence first: no level has existed yet";

  auto loud = Record(1000, 1000, Tone(1000, 50, 1000, 1e6));
  wave.ProcessWaveform(loud);
  wave.AttachLevels(s);
  ASSERT_EQ(s.levelsValid, 1);
  const double rms = s.rmsLevel, peakToPeak = s.peakToPeakLevel, zeroToPeak = s.zeroToPeakLevel;

  // A new range clears the smoothed deviation; a silent block leaves it at 0.
  auto silent = Record(1000, 2000, std::vector<std::int32_t>(1000, -3), 2.5);
  wave.ProcessWaveform(silent);
  EXPECT_EQ(silent.restart, 1);
  wave.AttachLevels(s);
  EXPECT_EQ(s.levelsValid, 1) << "an earlier value exists";
  EXPECT_DOUBLE_EQ(s.rmsLevel, rms);
  EXPECT_DOUBLE_EQ(s.peakToPeakLevel, peakToPeak);
  EXPECT_DOUBLE_EQ(s.zeroToPeakLevel, zeroToPeak);
}

TEST_F(Wave, IndexesThatGoBackAreEstimatedFromTheTime) {
  fftTransport = 1;
  auto a = Record(1000, 69000, Tone(1000, 50, 1000, 1e6));
  a.blockOffset = 100;
  wave.ProcessWaveform(a);  // expected index now 70 000
  auto b = Record(1000, 10, Tone(1000, 50, 1000, 1e6));
  b.timeStamp = a.timeStamp + 2;
  b.blockOffset = 40;
  wave.ProcessWaveform(b);
  EXPECT_EQ(b.missedSamples, 2U * 1000 - 100) << "two seconds on, less where the previous block began";
  auto c = Record(1000, 5, Tone(1000, 50, 1000, 1e6));
  c.timeStamp = b.timeStamp;
  wave.ProcessWaveform(c);
  EXPECT_EQ(c.missedSamples, 4U * 1000 - 40) << "no time passed: four seconds assumed";
}

TEST_F(Wave, LateAndRepeatedDatagramsAreNeitherRestartsNorLosses) {
  const std::uint32_t rate = 64000;
  auto feed = [&](std::uint64_t first) {
    auto r = Record(rate, first, Tone(480, 1000, rate, 1e6, static_cast<int>(first)));
    wave.ProcessWaveform(r);
    return std::pair{r.missedSamples, r.late};
  };
  struct Step {
    std::uint64_t first, missed;
    std::int32_t late;
  };
  const Step steps[] = {
      {0, 0, 0},
      {480, 0, 0},
      {1440, 480, 0},  // 960 overtaken: counted missed for now
      {960, 0, 1},     // ...and here it is, filling its gap
      {960, 0, 2},     // the same again: already had
      {1440, 0, 2},
      {1920, 0, 0},  // the next one in order
      {3 * rate, 3 * rate - 2400, 0},
      {rate, 4 * rate, 0},  // far behind: the counter started again (no time passed: four seconds)
  };
  for (const Step& s : steps) {
    const auto [missed, late] = feed(s.first);
    EXPECT_EQ(missed, s.missed) << "record at " << s.first;
    EXPECT_EQ(late, s.late) << "record at " << s.first;
  }
}
