// The instrument's own epoch triggers: stored with "S", watched on its spectrum, reported as
// NUL-terminated texts on the epoch message channel (command port + 1680).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "../support/SimProcess.h"
#include "wire/Bytes.h"

using namespace hylo::test;

namespace {

// LF record: kind, two durations in spectra, band as bin indices, action bits, threshold code
// in half-dB steps above -120 dBV after the gain.
std::vector<std::uint8_t> LfTrigger(std::uint16_t loBin, std::uint16_t hiBin, std::uint32_t code) {
  std::vector<std::uint8_t> r(16, 0);
  hylo::bytes::PutU16LE(r, 2, 1);
  hylo::bytes::PutU16LE(r, 4, 1);
  hylo::bytes::PutU16LE(r, 6, loBin);
  hylo::bytes::PutU16LE(r, 8, hiBin);
  hylo::bytes::PutU32LE(r, 12, code);
  return r;
}

// HF-family record: type 5, slot, enabled, duration and extension in seconds, band in Hz,
// threshold in dB re 1 uPa, action bits (0x20: report the event as a text).
std::vector<std::uint8_t> HfTrigger(std::uint8_t slot, std::uint32_t loHz, std::uint32_t hiHz, std::int16_t threshold,
                                    std::uint16_t effect) {
  std::vector<std::uint8_t> r(24, 0);
  hylo::bytes::PutU16LE(r, 0, 5);
  r[2] = slot;
  r[3] = 1;
  hylo::bytes::PutU16LE(r, 6, 1);
  hylo::bytes::PutU32LE(r, 8, loHz);
  hylo::bytes::PutU32LE(r, 12, hiHz);
  hylo::bytes::PutU16LE(r, 18, static_cast<std::uint16_t>(threshold));
  hylo::bytes::PutU16LE(r, 20, effect);
  return r;
}

// Sends each trigger with "S" and expects the add status 0 for it.
void AddTriggers(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& triggers) {
  auto link = ConnectTcp(port);
  ASSERT_TRUE(link);
  FrameReader in(link.get());
  for (const auto& t : triggers) {
    ASSERT_TRUE(SendAll(link.get(), BuildFrame('S', t)));
    auto reply = in.Next();
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(reply->letter, 'S');
    ASSERT_EQ(reply->payload, std::vector<std::uint8_t>{0}) << "trigger refused";
  }
}

// The first text on the epoch channel, without its NUL; empty when none came.
std::string FirstEventText(int fd, bool* terminated) {
  std::string text;
  *terminated = false;
  for (int i = 0; i < 1000; ++i) {
    char c = 0;
    if (read(fd, &c, 1) != 1) return text;
    if (c == '\0') {
      *terminated = true;
      return text;
    }
    text += c;
  }
  return text;
}

// The level the text reports, dB re 1 uPa.
double ReportedLevel(const std::string& text) {
  const auto at = text.find("Hz, ");
  return at == std::string::npos ? -1000 : std::atof(text.c_str() + at + 4);
}

// An RMS tone level in dB re 1 uPa: full scale 2.5 V at the converter, divided by the gain,
// over the hydrophone sensitivity of -171 dB re 1 V/uPa.
double ToneLevel(double dbfs, int gain) {
  const double volts = std::pow(10.0, dbfs / 20.0) * 2.5 / std::pow(10.0, gain / 20.0) / std::sqrt(2.0);
  return 20.0 * std::log10(volts) + 171.0;
}

}  // namespace

TEST(SimEpochChannel, LfTriggerAboveThresholdSendsEventText) {
  // 32000 S/s: 31.25 Hz per bin, so the 1000 Hz tone sits in bin 32.
  auto r = hylo::test::StartSimOnFreePorts(
      {"--model", "lf", "--rate", "32000", "--tone", "1000:-6", "--sensitivity", "-1710"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  EXPECT_NE(r.Line().find("epoch " + std::to_string(r.port + 1680)), std::string::npos) << r.Line();
  auto epoch = ConnectTcp(static_cast<std::uint16_t>(r.port + 1680));
  ASSERT_TRUE(epoch);
  // Trigger 1 watches a quiet band, trigger 2 the tone's band; both with threshold code 220
  // (110 dB above -120 dBV at the converter). With the 18 dB gain the tone is about 119 dB
  // above, without it only 101: the code counts after the gain. The noise is far below.
  AddTriggers(r.port, {LfTrigger(300, 310, 220), LfTrigger(20, 40, 220)});
  bool terminated = false;
  const std::string text = FirstEventText(epoch.get(), &terminated);
  EXPECT_TRUE(terminated) << "event texts end with a NUL: " << text;
  EXPECT_EQ(text.rfind("Epoch Trigger 2 fired", 0), 0u) << text;
  EXPECT_NE(text.find("625-1250 Hz"), std::string::npos) << text;
  EXPECT_NEAR(ReportedLevel(text), ToneLevel(-6, 18), 1.0) << text;  // LF starts at 18 dB gain
  EXPECT_EQ(r.sim->Stop(), 0);
}

TEST(SimEpochChannel, HfTriggerReportsOnlyWhenAskedTo) {
  auto r = hylo::test::StartSimOnFreePorts({"--model", "hf", "--tone", "1000:-6", "--sensitivity", "-1710"});
  ASSERT_TRUE(r.Ready()) << r.Line();
  auto epoch = ConnectTcp(static_cast<std::uint16_t>(r.port + 1680));
  ASSERT_TRUE(epoch);
  // 1: the tone's band but no text wanted; 2: a quiet band; 3: the tone's band with a text.
  AddTriggers(r.port, {HfTrigger(0, 900, 1100, 150, 0x08), HfTrigger(1, 40000, 41000, 150, 0x20),
                       HfTrigger(2, 900, 1100, 150, 0x20)});
  bool terminated = false;
  const std::string text = FirstEventText(epoch.get(), &terminated);
  EXPECT_TRUE(terminated) << text;
  EXPECT_EQ(text.rfind("Epoch Trigger 3 fired", 0), 0u) << text;
  EXPECT_NE(text.find("900-1100 Hz"), std::string::npos) << text;
  EXPECT_NEAR(ReportedLevel(text), ToneLevel(-6, 0), 1.0) << text;
  EXPECT_EQ(r.sim->Stop(), 0);
}
