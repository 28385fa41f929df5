#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "config/Control.h"
#include "config/SetupRecords.h"

using namespace hylo::setup;
using Bytes = std::vector<std::uint8_t>;

namespace {

template <std::size_t N>
Bytes ToVector(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

// Only the bytes of `b` are ever handed to the unpackers: a copy on the heap, so ASan
// sees any read past its end.
Bytes Exact(const Bytes& b) { return Bytes(b.begin(), b.end()); }

}  // namespace

// Packs `r` to exactly `expected` and unpacks `expected` back to `r`.
template <typename Record, typename Unpack>
void ExpectLayout(const Record& r, const Bytes& expected, Unpack unpack) {
  EXPECT_EQ(ToVector(Pack(r)), expected);
  EXPECT_EQ(unpack(expected), r);
}

TEST(SetupRecords, FixedRecordLayouts) {
  ExpectLayout(WaveSetup{12, 0x0007D000, 1, 60, 0x82, 0},
               {0x0E, 0x00, 0x0C, 0x00, 0x00, 0xD0, 0x07, 0x00, 0x01, 0x3C, 0x82, 0x00}, UnpackWaveSetup);
  ExpectLayout(FftSetup{-120, 64000, 1024, 4, 512, 125, 0, 2, 30},
               {0x0F, 0x00, 0x88, 0xFF, 0x00, 0xFA, 0x00, 0x00, 0x00, 0x04,
                0x04, 0x00, 0x00, 0x02, 0x7D, 0x00, 0x00, 0x00, 0x02, 0x1E},
               UnpackFftSetup);
  ExpectLayout(LegacyDutyCycleSetup{0, 10, 50, -2},
               {0x10, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x32, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}, UnpackLegacyDutyCycleSetup);
  ExpectLayout(StartTimeSetup{0, 0x5F5E1000, 0},
               {0x12, 0x00, 0x00, 0x00, 0x00, 0x10, 0x5E, 0x5F, 0x00, 0x00, 0x00, 0x00}, UnpackStartTimeSetup);
  EXPECT_EQ(ToVector(Pack(StartTimeSetup{})),
            (Bytes{0x12, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}));
  ExpectLayout(DutyCycleSetup{300, 0x0102, 1, 0}, {0x13, 0x00, 0x2C, 0x01, 0x02, 0x01, 0x01, 0x00},
               UnpackDutyCycleSetup);
  ExpectLayout(LfSetup{18, 4000, 21, 0, 0, 4, 8, 0, 8, 16},
               {0x0C, 0x00, 0x12, 0x00, 0xA0, 0x0F, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x00, 0x10, 0x00},
               UnpackLfSetup);
}

TEST(SetupRecords, ParamListWalkSkipsWhatItCannotUseAndStopsAtTheEnd) {
  struct Case {
    const char* what;
    int walked;
    std::size_t present;  // when 1, it is FFT type = 5
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {"unknown id and wrong sizes skipped by their size",
       4,
       1,
       {0x14, 0x00, 0x04, 0x00,                                // 4 entries
        0x15, 0x00, 0x04, 0x00, 0x01, 0x02, 0x03, 0x04,        // id 21: unknown
        0x10, 0x00, 0x02, 0x00, 0x0C, 0x00,                    // id 16, size 2: wrong
        0x10, 0x00, 0x06, 0x00, 1,    2,    3,    4,    5, 6,  // id 16, size 6: wrong
        0x06, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00}},      // id 6 = 5
      {"count of 1000 over one and a half entries",
       1,
       1,
       {0x14, 0x00, 0xE8, 0x03, 0x06, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x00, 0x07, 0x00, 0x04, 0x00, 0x09}},
      {"entry size past the end", 0, 0, {0x14, 0x00, 0x02, 0x00, 0x06, 0x00, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00}},
      {"half an entry header", 0, 0, {0x14, 0x00, 0x01, 0x00, 0x06, 0x00}},
  };
  for (const Case& c : cases) {
    const auto v = UnpackSetupParamList(Exact(c.bytes));
    ASSERT_TRUE(v) << c.what;
    EXPECT_EQ(v->claimedCount, c.bytes[2] | c.bytes[3] << 8) << c.what;
    EXPECT_EQ(v->walkedCount, c.walked) << c.what;
    EXPECT_EQ(v->present.count(), c.present) << c.what;
    if (c.present) {
      EXPECT_EQ(v->value[kFftType], 5u) << c.what;
    }
  }
  EXPECT_FALSE(UnpackSetupParamList(Exact({0x14, 0x00, 0x01})));
}

TEST(SetupRecords, ShortFixedRecordsRefused) {
  // A 3-byte payload claiming type 14 is not a WaveSetup.
  EXPECT_EQ(ParseSetupRecord(Exact({0x0E, 0x00, 0x0C})).error, SetupParseError::kTooShort);
  for (std::uint16_t type : {12, 14, 15, 16, 18, 19}) {
    for (std::size_t n = 2; n < 24; ++n) {
      Bytes b(n, 0);
      b[0] = static_cast<std::uint8_t>(type);
      const std::size_t need = type == 12 ? 24 : type == 14 ? 12 : type == 15 ? 20 : type == 19 ? 8 : 12;
      const auto p = ParseSetupRecord(b);
      EXPECT_EQ(p.record.has_value(), n >= need) << "type " << type << " size " << n;
    }
  }
  EXPECT_EQ(ParseSetupRecord(Bytes{}).error, SetupParseError::kTooShort);
}

TEST(SetupRecords, UnknownErrorCodesShowTheirNumber) {
  EXPECT_EQ(DescribeSetupError(0xFFF7),
            "Setup parameter error.\n\nPlease check your parameters and try again. Code: 65527");
}

TEST(Control, OperatingModeTable) {
  using hylo::control::LfModeChoice;
  // Logging "FFT", wave "Always", FFT "On Epoch Trigger".
  EXPECT_EQ(hylo::control::LfOperatingMode(LfModeChoice{2, 1, 2}), 21);
  EXPECT_FALSE(hylo::control::LfOperatingMode(LfModeChoice{4, 0, 0}));
  // Every choice has exactly one code and decodes back to itself.
  std::set<int> seen;
  for (int l = 0; l < 4; ++l)
    for (int w = 0; w < 3; ++w)
      for (int f = 0; f < 3; ++f) {
        const auto mode = hylo::control::LfOperatingMode({l, w, f});
        ASSERT_TRUE(mode);
        seen.insert(*mode);
        EXPECT_EQ(hylo::control::DecodeLfOperatingMode(*mode), (LfModeChoice{l, w, f}));
      }
  EXPECT_EQ(seen.size(), 36u);
  EXPECT_FALSE(hylo::control::DecodeLfOperatingMode(36));
}

#include "config/SetupDerived.h"
#include "config/SetupExchange.h"
#include "link/DeviceIdentity.h"
#include "support/SetupUnit.h"

TEST(SetupExchange, CountsFramesWithinTheBytes) {
  const Bytes two = {'*', 'F', 2, 0, 0xAA, 0xBB, '*', 'F', 0, 0};
  EXPECT_EQ(CountReplyFrames(two), 2);
  // A third frame announced but cut inside its header.
  Bytes cut = two;
  cut.insert(cut.end(), {'*', 'F'});
  EXPECT_EQ(CountReplyFrames(Exact(cut)), 2);
  // A length that runs past the end ends the walk.
  EXPECT_EQ(CountReplyFrames(Exact({'*', 'F', 0xFF, 0xFF})), 1);
  EXPECT_EQ(CountReplyFrames(Bytes{}), 0);
}

TEST(SetupExchange, ReadSetupReply) {
  auto ctx = hylo::test::SetupUnit(hylo::kModelHf, "v2.2.0");
  JobSetup s;
  auto reply = [](const auto& record) {
    Bytes b = {0x00};
    b.insert(b.end(), record.begin(), record.end());
    return b;
  };
  EXPECT_TRUE(ReadSetupReply(s, ctx, reply(Pack(WaveSetup{0, 64000, 0, 5, 0x83, 0})), 0).empty());
  EXPECT_EQ(s.waveBandwidthHz, 25600u);
  EXPECT_EQ(ReadSetupReply(s, ctx, Bytes{0x00, 0xFF, 0xFF, 0x07, 0x00}, 0),
            (Notices{"An error occurred when retrieving job setup.\r\nError Code: 7."}));
  EXPECT_EQ(ReadSetupReply(s, ctx, Bytes{0x00, 0x11, 0x00, 0, 0, 0, 0, 0, 0}, 0),
            (Notices{std::string(kUnrecognizedSetupText)}));
  EXPECT_EQ(ReadSetupReply(s, ctx, Bytes{0x00, 0x0E, 0x00, 0x0C}, 0), (Notices{std::string(kUnrecognizedSetupText)}));
  // 512 kS/s streamed and logged over Ethernet exceeds the link's suggested maximum.
  s.waveStreaming = true;
  EXPECT_EQ(ReadSetupReply(s, ctx, reply(Pack(WaveSetup{0, 512000, 1, 5, 0x83, 0})), 0),
            (Notices{std::string(kDataRateExceedsText)}));
  EXPECT_TRUE(ReadSetupReply(s, ctx, Bytes{0x01, 0x0E, 0x00}, 0).empty());
}
