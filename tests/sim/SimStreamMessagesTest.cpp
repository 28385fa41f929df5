// Data messages in every sample format, read back by a small decoder written from the wire
// layout (big-endian fields, blocks of tag / format / length).
#include <gtest/gtest.h>

#include <cmath>

#include "SimScene.h"
#include "SimSpectrum.h"
#include "SimStreamMessages.h"

using namespace hylo::sim;

namespace {

std::uint32_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) { return (b.at(at) << 8) | b.at(at + 1); }
std::uint32_t Be32(const std::vector<std::uint8_t>& b, std::size_t at) { return (Be16(b, at) << 16) | Be16(b, at + 2); }

struct Decoded {
  char type = 0;
  std::uint32_t timeStamp = 0;
  std::uint64_t counter = 0;
  std::uint32_t blockOffset = 0;
  int channels = 0;
  int sampleFormat = 0;
  std::vector<std::int32_t> samples;
};

// The receiving side: header, time block at 4, data block at 20, samples from 32.
Decoded DecodeData(const std::vector<std::uint8_t>& m) {
  Decoded d;
  EXPECT_GE(m.size(), 32u);
  EXPECT_EQ(m[1], '*');
  EXPECT_EQ(Be16(m, 2), m.size() - 4) << "length field is the payload length";
  d.type = static_cast<char>(m[0]);
  EXPECT_EQ(m[5], 0) << "time block format";
  EXPECT_EQ(m[21], 0) << "data block format";
  d.timeStamp = Be32(m, 8);
  d.counter = (std::uint64_t{Be32(m, 12)} << 32) | Be32(m, 16);
  d.blockOffset = Be32(m, 24);
  d.channels = m[28];
  d.sampleFormat = m[29];
  const std::size_t count = Be16(m, 30);
  const int width = d.sampleFormat & 0x7F;
  const bool little = (d.sampleFormat & 0x80) != 0;
  EXPECT_EQ(m.size(), 32 + count * static_cast<std::size_t>(width));
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t v = 0;
    for (int k = 0; k < width; ++k) {
      const std::uint8_t byte = m[32 + i * width + k];
      v |= std::uint32_t{byte} << (little ? 8 * k : 8 * (width - 1 - k));
    }
    const int shift = 32 - 8 * width;
    d.samples.push_back(static_cast<std::int32_t>(v << shift) >> shift);
  }
  return d;
}

}  // namespace

TEST(SimStreamMessages, DataMessagesRoundTripEveryFormat) {
  for (int width : {2, 3, 4}) {
    for (bool little : {false, true}) {
      SimWaveFormat f{64000, width, little, 0, 2.5};
      std::vector<double> x{0.0, 0.5, -0.5, 1.0, -1.0, 0.25, -0.001};
      const auto t = hylo::sim::TimeOfSample(1000, 64000 * 3 + 17, 64000);
      const auto d = DecodeData(SimStreamMessages::WaveData(f, t, x));
      EXPECT_EQ(d.type, '1');
      EXPECT_EQ(d.timeStamp, 1003u);
      EXPECT_EQ(d.counter + d.blockOffset, 64000u * 3 + 17) << "first sample";
      EXPECT_EQ(d.channels, 1);
      EXPECT_EQ(d.sampleFormat, width | (little ? 0x80 : 0));
      ASSERT_EQ(d.samples.size(), x.size());
      const double full = std::ldexp(1.0, 8 * width - 1) - 1;
      for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(d.samples[i], x[i] * full, 1.0) << width << little << i;
    }
  }
}

TEST(SimSpectrum, ToneLandsInItsBinAtItsLevel) {
  SimOptions o;
  o.tones = {{12500, -6}};  // bin 100 at 128 kS/s
  o.noiseDbfs = -300;
  hylo::sim::SimScene scene(o, 128000);
  std::vector<double> x(1024 * 4);
  scene.Next(x);
  hylo::sim::SimSpectrum analyser(0, 1024, 4, 0, 2.5);
  std::vector<hylo::sim::SimSpectrumRecord> out;
  analyser.Push(x, out);
  ASSERT_EQ(out.size(), 1u);
  const auto& r = out[0];
  const auto peak = std::max_element(r.dbv.begin(), r.dbv.end()) - r.dbv.begin();
  EXPECT_EQ(peak, 100);
  // 2.5 V full scale at -6 dBFS, as RMS.
  const double expected = 20 * std::log10(2.5 * std::pow(10, -6 / 20.0) / std::sqrt(2.0));
  EXPECT_NEAR(r.dbv[100], expected, 0.2);
  EXPECT_LT(r.dbv[300], expected - 80);
  // Byte scales: the system's (b - 180 dBV) and the wire's half-dB steps above the reference.
  EXPECT_EQ(hylo::sim::SimSpectrum::ScaleByte(-100.0), 80);
  EXPECT_EQ(hylo::sim::SimSpectrum::WireByte(-100.0, -120), 40);
  EXPECT_EQ(hylo::sim::SimSpectrum::WireByte(50.0, -120), 255);
}

TEST(SimScene, SameSeedSameSamples) {
  SimOptions o;
  o.tones = {{1000, -20}};
  o.noiseDbfs = -40;
  o.impulseRate = 50;
  o.seed = 7;
  hylo::sim::SimScene a(o, 48000), b(o, 48000);
  std::vector<double> x(5000), y(5000);
  a.Next(x);
  b.Next(y);
  EXPECT_EQ(x, y);
  o.seed = 8;
  hylo::sim::SimScene c(o, 48000);
  c.Next(y);
  EXPECT_NE(x, y);
}

TEST(SimScene, ImpulsesStartWhereTheyAreSaidToWithTheirEnergy) {
  SimOptions o;
  o.noiseDbfs = -300;  // silence between impulses
  o.impulseRate = 2;
  o.impulseDbfs = -6;
  hylo::sim::SimScene scene(o, 64000);
  std::vector<double> x(3 * 64000);
  scene.Next(x);
  const double a = hylo::sim::DbfsToAmplitude(-6);
  for (std::uint64_t k = 0; k < 6; ++k) {
    const std::uint64_t start = (2 * k + 1) * 16000, length = k % 2 == 0 ? 1280 : 2560;
    EXPECT_EQ(x[start - 1], 0.0);
    EXPECT_EQ(x[start + length], 0.0);
    double energy = 0;
    for (std::uint64_t n = 0; n < length; ++n) energy += x[start + n] * x[start + n];
    // A Hann burst holds 3/8 of A²/2 per sample; a decaying tone about A²·tau·rate/4.
    EXPECT_NEAR(energy / (k % 2 == 0 ? a * a * 0.1875 * 1280 : a * a * 0.005 * 64000 / 4), 1.0, 0.02) << k;
  }
}
