// Setup reads and writes, status replies and the other letters, driven through SimInstrument.
#include <gtest/gtest.h>

#include <random>

#include "SimInstrument.h"
#include "wire/Bytes.h"

using hylo::bytes::GetI16LE;
using hylo::bytes::GetU16LE;
using hylo::bytes::GetU32LE;
using hylo::bytes::PutU16LE;
using hylo::bytes::PutU32LE;
using hylo::sim::SimFrame;
using hylo::sim::SimInstrument;
using hylo::sim::SimOptions;

namespace {

SimOptions Model(int model, const char* firmware) {
  SimOptions o;
  o.model = model;
  o.firmware = firmware;
  return o;
}

std::vector<std::uint8_t> WaveSetup(std::uint16_t gain, std::uint32_t rate, std::uint8_t format,
                                    std::uint8_t logMode = 0, std::uint8_t logLength = 10) {
  std::vector<std::uint8_t> r(12, 0);
  PutU16LE(r, 0, 14);
  PutU16LE(r, 2, gain);
  PutU32LE(r, 4, rate);
  r[8] = logMode;
  r[9] = logLength;
  r[10] = format;
  r[11] = 0;
  return r;
}

std::vector<std::uint8_t> FftSetup(std::int16_t ref, std::uint16_t type, std::uint16_t step, std::uint16_t accum,
                                   std::uint16_t weight = 0, std::uint16_t length = 1024) {
  std::vector<std::uint8_t> r(20, 0);
  PutU16LE(r, 0, 15);
  PutU16LE(r, 2, static_cast<std::uint16_t>(ref));
  PutU32LE(r, 4, 64000);
  PutU16LE(r, 8, length);
  PutU16LE(r, 10, type);
  PutU16LE(r, 12, step);
  PutU16LE(r, 14, accum);
  PutU16LE(r, 16, weight);
  return r;
}

std::vector<hylo::sim::SimReply> Send(SimInstrument& s, char letter, std::vector<std::uint8_t> payload = {}) {
  return s.Handle(SimFrame{letter, std::move(payload)}).replies;
}

// A refused "D" as a host reads it: at least 6 bytes, the first u16 0xFFFF; the code follows.
std::uint16_t ErrorCode(const std::vector<std::uint8_t>& reply) {
  if (reply.size() < 6 || GetU16LE(reply, 0) != 0xFFFF) return 0;
  EXPECT_EQ(reply.size(), 6u);
  return GetU16LE(reply, 2);
}

}  // namespace

TEST(SimSetup, ReadRepliesByModelAndFirmware) {
  struct Case {
    int model;
    const char* firmware;
    std::vector<std::uint16_t> types;
    std::size_t firstSize;  // after the status byte
  };
  const std::vector<Case> cases = {
      {2, "v2.4.0", {12}, 24},         {5, "v2.0.0", {20}, 0},
      {7, "v1.0.0", {20}, 0},          {5, "v1.5.0", {14, 15, 19, 18}, 12},
      {5, "v1.4.5", {14, 15, 16}, 12},
  };
  for (const auto& c : cases) {
    const auto o = Model(c.model, c.firmware);
    SimInstrument s(o);
    const auto replies = Send(s, 'F', {20, 0});
    ASSERT_EQ(replies.size(), c.types.size()) << c.model << " " << c.firmware;
    EXPECT_EQ(replies[0].payload.size(), c.firstSize ? 1 + c.firstSize : replies[0].payload.size());
    for (std::size_t i = 0; i < replies.size(); ++i) {
      ASSERT_GE(replies[i].payload.size(), 3u);
      EXPECT_EQ(replies[i].payload[0], 0) << "status byte";
      EXPECT_EQ(GetU16LE(replies[i].payload, 1), c.types[i]);
    }
  }
}

TEST(SimSetup, WaveSetupIsStoredAndEchoed) {
  const auto o = Model(5, "v1.5.0");
  SimInstrument s(o);
  const auto rec = WaveSetup(12, 64000, 0x82, 1, 30);
  const auto r = Send(s, 'D', rec);
  ASSERT_GE(r.size(), 1u);
  EXPECT_EQ(r[0].letter, 'D');
  EXPECT_EQ(r[0].payload, rec);
  // The gain changed from 0 to 12 dB: the instrument reports it.
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].letter, 'G');
  EXPECT_EQ(r[1].payload.at(0), 12);
  // Read back: the first record is the stored one.
  const auto f = Send(s, 'F', {20, 0});
  EXPECT_EQ(std::vector<std::uint8_t>(f.at(0).payload.begin() + 1, f[0].payload.end()), rec);
}

TEST(SimSetup, BadRecordsGetTheirErrorCodes) {
  const auto o = Model(5, "v1.5.0");
  SimInstrument s(o);
  const std::pair<std::vector<std::uint8_t>, std::uint16_t> refused[] = {
      {WaveSetup(7, 64000, 0x02), 1},    {WaveSetup(12, 64000, 0x03), 1},  // gain: not ×6, or with 24-bit
      {WaveSetup(0, 0, 0x03), 2},        {WaveSetup(0, 64000, 0x05), 4},         {WaveSetup(0, 64000, 0x03, 3), 16},
      {FftSetup(-120, 0, 1024, 0), 8},   {FftSetup(-120, 7, 1024, 1), 8},        {FftSetup(-100, 0, 1024, 1), 8},
      {FftSetup(-120, 6, 512, 4, 0), 8}, {FftSetup(-120, 0, 1024, 1, 0, 512), 8}};
  for (const auto& [record, code] : refused) EXPECT_EQ(ErrorCode(Send(s, 'D', record).at(0).payload), code);
  const auto good = FftSetup(-150, 4, 512, 4);
  EXPECT_EQ(Send(s, 'D', good).at(0).payload, good);
  // Nothing of the refused records was kept.
  EXPECT_EQ(s.Setup().Gain(), 0);
  EXPECT_EQ(s.Setup().FftRefLevel(), -150);
}

TEST(SimSetup, ShortAndUnknownRecordsAreRefusedNotCrashing) {
  const auto o = Model(5, "v2.1.0");
  SimInstrument s(o);
  std::vector<std::uint8_t> lf(24, 0);  // an LF record is not for an HF unit
  PutU16LE(lf, 0, 12);
  // Empty, cut short, unknown, a parameter list whose count promises more than it carries.
  for (const auto& bad : std::vector<std::vector<std::uint8_t>>{
           {}, {14}, {14, 0, 0, 0, 0}, {99, 0, 1, 2, 3, 4}, {20, 0, 5, 0, 14, 0, 4, 0}, lf})
    EXPECT_NE(ErrorCode(Send(s, 'D', bad).at(0).payload), 0) << bad.size();
}

TEST(SimSetup, ParamListIsAppliedAndEchoed) {
  const auto o = Model(7, "v2.1.0");
  SimInstrument s(o);
  std::vector<std::pair<std::uint16_t, std::uint32_t>> e = {
      {14, 256000},    {16, 0},  {15, 24}, {17, 1}, {18, 0}, {2, 256000}, {3, static_cast<std::uint32_t>(-130)},
      {4, 1024},       {5, 512}, {6, 4},   {7, 8},  {9, 0},  {11, 10},    {12, 5},
      {1, 0xFFFFFFFF}, {33, 7}};
  std::vector<std::uint8_t> list(4 + 8 * e.size(), 0);
  list[0] = 20;
  PutU16LE(list, 2, static_cast<std::uint16_t>(e.size()));
  for (std::size_t i = 0; i < e.size(); ++i) {
    PutU16LE(list, 4 + 8 * i, e[i].first);
    PutU16LE(list, 6 + 8 * i, 4);
    PutU32LE(list, 8 + 8 * i, e[i].second);
  }
  const auto r = Send(s, 'D', list);
  EXPECT_EQ(r.at(0).payload, list);
  EXPECT_EQ(s.Setup().WaveSampleRate(), 256000u);
  EXPECT_EQ(s.Setup().BytesPerSample(), 3);
  EXPECT_EQ(s.Setup().FftRefLevel(), -130);
  // 32-bit depth at 512 kS/s is refused with the bandwidth code.
  PutU32LE(list, 8, 512000);
  PutU32LE(list, 8 + 16, 32);
  EXPECT_EQ(ErrorCode(Send(s, 'D', list).at(0).payload), 2);
}

// The whole reply, byte for byte: type 0xFFFF, the code (little-endian), two zero bytes.
TEST(SimSetup, ErrorReplyLayout) {
  const auto o = Model(5, "v1.5.0");
  SimInstrument s(o);
  const auto r = Send(s, 'D', WaveSetup(7, 64000, 0x02));
  ASSERT_EQ(r.size(), 1u) << "a refused setup changes no gain, so no \"G\"";
  EXPECT_EQ(r[0].letter, 'D');
  EXPECT_EQ(r[0].payload, (std::vector<std::uint8_t>{0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}));
  auto forced = Model(7, "v2.1.0");
  forced.setupError = 0xFFFD;
  SimInstrument f(forced);
  EXPECT_EQ(Send(f, 'D', {20, 0, 0, 0}).at(0).payload, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFD, 0xFF, 0x00, 0x00}));
  // An LF unit refuses the same way (bandwidth above 32000 S/s).
  SimInstrument lf(Model(2, "v2.4.0"));
  std::vector<std::uint8_t> rec = Send(lf, 'F', {20, 0}).at(0).payload;
  rec.erase(rec.begin());
  PutU32LE(rec, 4, 48000);
  EXPECT_EQ(Send(lf, 'D', rec).at(0).payload, (std::vector<std::uint8_t>{0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00}));
  // An "F" reply of a unit without a setup still carries the 4-byte error record after its status.
  SimInstrument other(Model(9, "v2.1.0"));
  EXPECT_EQ(Send(other, 'F', {20, 0}).at(0).payload, (std::vector<std::uint8_t>{0x00, 0xFF, 0xFF, 0x20, 0x00}));
}

TEST(SimStatus, TemperatureAndHumidity) {
  auto o = Model(5, "v2.1.0");
  o.temperatureTenths = -12;
  o.humidityTenths = 555;
  SimInstrument s(o);
  const auto r = Send(s, 'C', {0x06, 0x00}).at(0).payload;
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], 0x06);
  EXPECT_EQ(GetI16LE(r, 1), 555);  // humidity comes first
  EXPECT_EQ(GetI16LE(r, 3), -12);
}

TEST(SimStatus, FftBlockOverTheCommandLink) {
  auto o = Model(5, "v2.1.0");
  o.tones = {{5000, -20}};
  SimInstrument s(o);
  const auto r = Send(s, 'C', {0x18, 0x10}).at(0).payload;  // FFT block and its time record
  ASSERT_GE(r.size(), 1u + 17u);
  EXPECT_EQ(r[0], 0x18);
  const std::size_t n = GetU16LE(r, 3);
  EXPECT_EQ(n, 512u);
  EXPECT_EQ(r[5], static_cast<std::uint8_t>(-120 - s.Setup().FftRefLevel()));
  EXPECT_EQ(GetU32LE(r, 6), s.Setup().FftSampleRate());
  const std::uint16_t type = GetU16LE(r, 12);
  const std::size_t head = type >= 4 ? 21 : 17;
  ASSERT_GE(r.size(), 1 + head + n);
  // The tone's bin stands out of the noise.
  const std::size_t bins = 1 + head;
  const std::size_t toneBin = static_cast<std::size_t>(5000.0 * 1024 / s.Setup().FftSampleRate() + 0.5);
  EXPECT_GT(r[bins + toneBin], r[bins + 10] + 40);
  // Then one tagged record: tag 0x10, 8 bytes.
  const std::size_t tagAt = 1 + head + n;
  ASSERT_EQ(r.size(), tagAt + 4 + 8);
  EXPECT_EQ(GetU16LE(r, tagAt), 0x10);
  EXPECT_EQ(GetU16LE(r, tagAt + 2), 8);
}

TEST(SimStatus, ProbeMaskAnswersWithZeroFlags) {
  const auto o = Model(5, "v2.1.0");
  SimInstrument s(o);
  const auto r = Send(s, 'C', {0x80, 0x00}).at(0).payload;
  EXPECT_GT(r.size(), 2u);
  EXPECT_EQ(r[0], 0);
  EXPECT_TRUE(Send(s, 'C', {}).empty());
}

TEST(SimInstrument, ClockReadAndSet) {
  const auto o = Model(5, "v2.1.0");
  SimInstrument s(o);
  std::vector<std::uint8_t> set(4);
  PutU32LE(set, 0, 1000000000u);
  const auto r = Send(s, 'A', set);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_NEAR(static_cast<double>(GetU32LE(r[0].payload, 0)), 1e9, 2);
  const auto read = Send(s, 'A', {0, 0, 0, 0});
  EXPECT_NEAR(static_cast<double>(GetU32LE(read.at(0).payload, 0)), 1e9, 5);
  EXPECT_TRUE(Send(s, 'A', {1, 2}).empty());  // short payload: ignored
}

TEST(SimInstrument, BatterySyncRebootAndStop) {
  auto o = Model(5, "v2.1.0");
  o.batteryLevel = -1;
  o.batteryState = 3;
  SimInstrument s(o);
  const auto z = Send(s, 'Z').at(0).payload;
  ASSERT_EQ(z.size(), 4u);
  EXPECT_EQ(GetU16LE(z, 0), 0);
  EXPECT_EQ(z[2], 3);
  EXPECT_EQ(static_cast<std::int8_t>(z[3]), -1);
  EXPECT_EQ(Send(s, '[').at(0).payload.size(), 20u);
  const auto y = s.Handle(SimFrame{'Y', {}});
  EXPECT_TRUE(y.reboot);
  EXPECT_TRUE(y.replies.empty());
  EXPECT_TRUE(s.Handle(SimFrame{'Q', {}}).stopStreams);
  EXPECT_TRUE(Send(s, 'H').empty());  // no handler, no reply
}

TEST(SimEpoch, AddListAndClear) {
  const auto o = Model(5, "v2.1.6");
  SimInstrument s(o);
  std::vector<std::uint8_t> t(24, 0);
  PutU16LE(t, 0, 5);
  t[3] = 1;
  PutU16LE(t, 4, 1);
  PutU32LE(t, 8, 1000);
  PutU32LE(t, 12, 2000);
  PutU16LE(t, 18, 120);
  PutU16LE(t, 20, 32);
  EXPECT_EQ(Send(s, 'S', t).at(0).payload, std::vector<std::uint8_t>{0});
  auto bad = t;
  PutU16LE(bad, 0, 9);
  EXPECT_EQ(Send(s, 'S', bad).at(0).payload.at(0), 251);
  auto high = t;
  PutU32LE(high, 12, 10000000);
  EXPECT_EQ(Send(s, 'S', high).at(0).payload.at(0), 2);
  EXPECT_EQ(Send(s, 'S', {1, 2, 3}).at(0).payload.at(0), 251);
  const auto list = Send(s, 'R').at(0).payload;
  ASSERT_EQ(list.size(), 1u + 2u + 24u);
  EXPECT_EQ(list[0], 1);
  EXPECT_EQ(GetU16LE(list, 1), 24);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Send(s, 'S', t).at(0).payload.at(0), 0);
  EXPECT_EQ(Send(s, 'S', t).at(0).payload.at(0), 253);  // five is the most
  EXPECT_EQ(Send(s, 'U').at(0).payload, std::vector<std::uint8_t>{0});
  EXPECT_EQ(Send(s, 'R').at(0).payload, std::vector<std::uint8_t>{0});
  EXPECT_EQ(Send(s, 'T', {0}).at(0).payload.at(0), 250);
}

TEST(SimInstrument, RandomPayloadsForEveryLetterNeverCrash) {
  std::mt19937 rng(5);
  for (int model : {2, 5, 7, 9}) {
    auto o = Model(model, model == 5 ? "v1.4.5" : "v2.1.0");
    SimInstrument s(o);
    for (int i = 0; i < 3000; ++i) {
      const char letter = static_cast<char>('A' + rng() % 28);
      std::vector<std::uint8_t> p(rng() % 64);
      for (auto& b : p) b = static_cast<std::uint8_t>(rng());
      if (letter == 'Y') continue;
      for (const auto& r : s.Handle(SimFrame{letter, p}).replies) EXPECT_LE(r.payload.size(), 7998u);
    }
    // Still a working instrument afterwards.
    EXPECT_EQ(Send(s, 'E').at(0).payload.at(28), model);
  }
}
