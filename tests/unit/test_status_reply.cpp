#include <gtest/gtest.h>

#include <vector>

#include "stream/StatusReply.h"

using namespace hylo;

namespace {

struct Le {
  std::vector<std::uint8_t> b;
  Le& U8(int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Le& U16(int v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
  Le& U32(std::int64_t v) { return U16(static_cast<int>(v & 0xFFFF)).U16(static_cast<int>((v >> 16) & 0xFFFF)); }
};

// FFT block: index, N, reference, rate, spare, type, A, F [, s, u], bins.
Le& FftBlock(Le& w, int index, int n, int reference, int rate, int type, int a, int f, int s = 1, int u = 1) {
  w.U16(index).U16(n).U8(reference).U32(rate).U16(0).U16(type).U16(a).U16(f);
  if (type >= 4) w.U16(s).U16(u);
  for (int i = 0; i < n; ++i) w.U8(i % 256);
  return w;
}

struct Reply : ::testing::Test {
  HyloNodes nodes;
  std::vector<MessageNode*> posted;
  StatusReplyHandler handler{nodes, [this](MessageNode* n) {
                               posted.push_back(n);
                               return 1;
                             }};
  std::vector<std::pair<int, int>> env;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    handler.SetModelCode(5);
    StreamStatusSink sink;
    sink.environment = [this](std::optional<int> t, std::optional<int> h) {
      env.emplace_back(t.value_or(-1), h.value_or(-1));
    };
    handler.SetStatusSink(sink);
  }
  void TearDown() override {
    for (auto* n : posted) nodes.ReleaseNode(n);
    EXPECT_EQ(nodes.FreeCount(), kNodeCount);
  }
};

}  // namespace

TEST_F(Reply, FftBlockOverTheCommandLinkWithItsTimeRecord) {
  Le w;
  w.U8(0x10 | 0x08);
  FftBlock(w, 7, 300, 40, 64000, 0, 5, 1);
  w.U16(0x10).U16(8).U32(0).U32(1700000123);  // tagged record: FFT time stamp at 4
  ASSERT_EQ(handler.HandleStatusReply(w.b), 0);
  ASSERT_EQ(posted.size(), 1U);
  const auto& r = posted[0]->As<SpectrumRecord>();
  EXPECT_EQ(r.timeStamp, 1700000123U);
  EXPECT_EQ(r.binCount, 512U);
  EXPECT_EQ(r.bins[299], std::clamp((299 % 256 + 1) / 2 - 40 + 60, 0, 255));
  EXPECT_EQ(r.bins[300], 0);
  EXPECT_EQ(r.fftStep, 1024);
  EXPECT_EQ(r.accumulation, 5);
  EXPECT_EQ(r.recordIndex, 7U);
  EXPECT_EQ(r.firstSample, 7U * 1024U * 5U);
  EXPECT_DOUBLE_EQ(r.recordSeconds, 300.0 * 4 * 2 / 64000);  // K = A − F
}

TEST_F(Reply, HostileFftBlocksAreDroppedAndStopTheParse) {
  Le tooMany;
  tooMany.U8(0x10 | 0x20);
  FftBlock(tooMany, 0, 513, 0, 64000, 0, 5, 1);
  EXPECT_LT(handler.HandleStatusReply(tooMany.b), 0);
  Le shortReply;
  shortReply.U8(0x10);
  FftBlock(shortReply, 0, 100, 0, 64000, 0, 5, 1);
  shortReply.b.resize(shortReply.b.size() - 10);  // bins run past the payload
  EXPECT_LT(handler.HandleStatusReply(shortReply.b), 0);
  for (auto [type, a, f, s, u] :
       {std::array<int, 5>{1, 0, 0, 1, 1}, {4, 8, 2, 0, 0}, {6, 4, 0, 1, 1}, {0, 2, 2, 1, 1}}) {
    Le w;
    w.U8(0x10);
    FftBlock(w, 0, 10, 0, 64000, type, a, f, s, u);
    EXPECT_LT(handler.HandleStatusReply(w.b), 0) << "type " << type;
  }
  Le zeroRate;
  zeroRate.U8(0x10);
  FftBlock(zeroRate, 0, 10, 0, 0, 0, 5, 1);
  EXPECT_LT(handler.HandleStatusReply(zeroRate.b), 0);
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(handler.Malformed(), 7U);
}

TEST_F(Reply, WaveformBlockScalesToTwentyFourBitsAndHonoursItsStartRecord) {
  Le w;
  w.U8(0x20 | 0x08);
  // start 3, 16-bit big-endian (16 + 0x80), 3 samples, gain 12, 1000 S/s, −165 dB, 3000 mV
  w.U16(3).U8(16 | 0x80).U16(6).U8(12).U32(1000).U16(-165 & 0xFFFF).U16(3000);
  w.U8(0x00).U8(0x01).U8(0xFF).U8(0xFF).U8(0x80).U8(0x00);
  w.U16(0x20).U16(8).U32(400).U32(1700000200);
  ASSERT_EQ(handler.HandleStatusReply(w.b), 0);
  ASSERT_EQ(posted.size(), 1U);
  const auto& r = posted[0]->As<WaveformRecord>();
  EXPECT_EQ(r.sampleFormat, 0x83);
  EXPECT_EQ(r.samples[0], 256);
  EXPECT_EQ(r.samples[1], -256);
  EXPECT_EQ(r.samples[2], -32768 * 256);
  EXPECT_EQ(r.firstSample, 9U);
  EXPECT_EQ(r.blockOffset, 400U);
  EXPECT_EQ(r.timeStamp, 1700000200U);
  EXPECT_DOUBLE_EQ(r.rangeVolts, 2 * (3000 >> 2) / 1000.0);

  Le lying;
  lying.U8(0x20).U16(0).U8(24).U16(3000).U8(0).U32(1000).U16(0).U16(3000).U8(1).U8(2).U8(3);
  EXPECT_LT(handler.HandleStatusReply(lying.b), 0) << "byte count past the reply";
  EXPECT_EQ(posted.size(), 1U);
}

TEST_F(Reply, ThreeRepliesAreSkippedAfterAStartUnlessOneCarriesOnlyEnvironmentOrNothing) {
  Le full;
  full.U8(0x07).U16(0).U16(300).U16(150);
  handler.ArmSkip();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(handler.HandleStatusReply(full.b), 0);
  EXPECT_TRUE(env.empty()) << "three replies after a start are dropped";
  EXPECT_EQ(handler.HandleStatusReply(full.b), 0);
  ASSERT_EQ(env.size(), 1U);
  EXPECT_EQ(env[0], std::make_pair(150, 300)) << "humidity comes before temperature on the wire";
  // Such a reply ends the skipping and is itself ignored.
  for (const auto& ends :
       {Le{}.U8(0x06).U16(450).U16(215).b, Le{}.U8(0x02).U16(1).b, Le{}.U8(0x04).U16(1).b, Le{}.U8(0).b}) {
    handler.ArmSkip();
    EXPECT_EQ(handler.HandleStatusReply(ends), 0);
    EXPECT_EQ(handler.SkipCounter(), 0) << "flags " << int{ends[0]};
  }
  EXPECT_EQ(env.size(), 1U);
}

struct KCase {
  int type, a, f, s, u;
  int k, step, accumulation, weight;
};
struct FftTypes : Reply, ::testing::WithParamInterface<KCase> {};

// The record length K × N × 2 / rate and the step, accumulation and weight of each FFT type.
TEST_P(FftTypes, BlockOfEachTypeGivesItsRecordLengthAndFields) {
  const KCase c = GetParam();
  Le w;
  w.U8(0x10);
  FftBlock(w, 3, 10, 0, 64000, c.type, c.a, c.f, c.s, c.u);
  ASSERT_EQ(handler.HandleStatusReply(w.b), 0);
  ASSERT_EQ(posted.size(), 1U);
  const auto& r = posted[0]->As<SpectrumRecord>();
  EXPECT_EQ(r.fftType, c.type);
  EXPECT_EQ(r.fftLength, 1024);
  EXPECT_DOUBLE_EQ(r.recordSeconds, 10.0 * c.k * 2 / 64000);
  EXPECT_EQ(r.fftStep, c.step);
  EXPECT_EQ(r.accumulation, c.accumulation);
  EXPECT_EQ(r.weight, c.weight);
  EXPECT_EQ(r.firstSample, 3ULL * static_cast<unsigned>(c.step) * static_cast<unsigned>(c.accumulation));
}

// Scan interval 0.0625 s at 64000 S/s: rate × T / 1024 = 3.9, so K = 3 where A = 0.
INSTANTIATE_TEST_SUITE_P(Reply, FftTypes,
                         ::testing::Values(KCase{0, 5, 1, 1, 1, 4, 1024, 5, 0}, KCase{1, 2, 2, 1, 1, 1, 1024, 1, 0},
                                           KCase{2, 0, 0, 1, 1, 3, 1024, 0, 0}, KCase{2, 6, 2, 1, 1, 4, 1024, 6, 0},
                                           KCase{3, 7, 3, 1, 1, 3, 1024, 3, 7}, KCase{4, 9, 1, 1, 2, 4, 512, 9, 0},
                                           KCase{5, 6, 2, 3, 4, 3, 768, 6, 0}, KCase{5, 0, 0, 1, 2, 3, 512, 0, 0},
                                           KCase{6, 5, 4, 1, 4, 1, 256, 4, 5}));
