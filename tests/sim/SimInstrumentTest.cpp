// The instrument's own setup checks and epoch trigger storage, driven through SimInstrument.
#include <gtest/gtest.h>

#include "SimInstrument.h"
#include "wire/Bytes.h"

using namespace hylo::bytes;
using namespace hylo::sim;

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
