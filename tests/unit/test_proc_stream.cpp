#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "stream/HyloProcStream.h"
#include "support/StreamWriter.h"

using namespace hylo;
using namespace hylo::test;

namespace {

struct Proc : ::testing::Test {
  HyloNodes nodes;
  std::vector<MessageNode*> posted;
  HyloProcStream proc{nodes, [this](MessageNode* n) {
                        posted.push_back(n);
                        return 1;
                      }};
  ParseStreams parser;
  std::vector<std::string> notices;
  int sensitivity = 0;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    proc.Attach(parser);
    StreamStatusSink sink;
    sink.notice = [this](std::string_view n) { notices.emplace_back(n); };
    sink.sensitivity = [this](int db) { sensitivity = db; };
    proc.SetStatusSink(sink);
  }
  void TearDown() override {
    for (auto* n : posted) nodes.FreeNode(n);
    EXPECT_EQ(nodes.FreeCount(), kNodeCount);
  }
  void Feed(int stream, const std::vector<std::uint8_t>& bytes) { parser.ReassembleStream(stream, bytes); }
  // One 16-bit sample on `channels` channels.
  void FeedOneSample(int stream, int channels = 1) { Feed(stream, DataHead(0, channels, 2, 1).U16(7).Done()); }
  std::vector<std::int32_t> Samples(std::size_t i) const {
    const auto& r = posted.at(i)->As<WaveformRecord>();
    return {r.samples, r.samples + r.sampleCount};
  }
};

}  // namespace

TEST_F(Proc, WaveformSamplesDecodeInBothByteOrdersAndWidths) {
  Feed(STREAM_WAVE, WaveDescription(512000, 8388607, -8388608));
  EXPECT_EQ(sensitivity, -171);
  // 24-bit big-endian: 0x7FFFFF, -1, -8388608
  Writer w = DataHead(250, 1, 3, 3, (1ULL << 32) + 5);
  w.U8(0x7F).U8(0xFF).U8(0xFF).U8(0xFF).U8(0xFF).U8(0xFF).U8(0x80).U8(0).U8(0);
  Feed(STREAM_WAVE, w.Done());
  // 16-bit little-endian (bit 7 set): 0x1234, -2
  Writer le = DataHead(0, 1, 0x82, 2);
  le.U8(0x34).U8(0x12).U8(0xFE).U8(0xFF);
  Feed(STREAM_WAVE, le.Done());
  ASSERT_EQ(posted.size(), 2U);
  const auto& r = posted[0]->As<WaveformRecord>();
  EXPECT_EQ(r.gain, 12);
  EXPECT_EQ(r.firstSample, (1ULL << 32) + 5 + 250);
  EXPECT_EQ(Samples(0), (std::vector<std::int32_t>{8388607, -1, -8388608}));
  EXPECT_DOUBLE_EQ(r.voltsPerCount, 5.0 / 16777216.0);
  EXPECT_EQ(Samples(1), (std::vector<std::int32_t>{0x1234, -2}));
  EXPECT_EQ(proc.Malformed(), 0U);
}

TEST_F(Proc, SampleCountsBeyondTheMessageOrTheRecordAreDropped) {
  Feed(STREAM_WAVE, WaveDescription(48000, 32767, -32768));
  Writer lying = DataHead(0, 1, 2, 500);  // claims 1000 bytes, carries 4
  lying.U16(1).U16(2);
  Feed(STREAM_WAVE, lying.Done());
  // Longer than a stream slot: only the command link could carry it, so feed it directly.
  Writer tooMany = DataHead(0, 1, 2, 1001);
  tooMany.Pad(4 + 28 + 2002);
  const auto tooManyBytes = tooMany.Done();
  StreamMessage direct{'1', std::span(tooManyBytes).subspan(4), tooManyBytes};
  EXPECT_LT(proc.HandleDataMessage(STREAM_WAVE, direct), 0);
  Writer badWidth = DataHead(0, 1, 5, 1);
  badWidth.Pad(40);
  Feed(STREAM_WAVE, badWidth.Done());
  EXPECT_TRUE(posted.empty());
  EXPECT_EQ(proc.Malformed(), 3U);
}

TEST_F(Proc, OnlyDescriptorsInsideTheStoredDescriptionAreUsed) {
  Feed(STREAM_WAVE, WaveDescription(48000, 32767, -32768));
  FeedOneSample(STREAM_WAVE, 2);  // channel 1 would sit past byte 100
  EXPECT_EQ(proc.Malformed(), 1U);
  // A description cut short of its channel descriptor makes data on that stream invalid.
  Feed(STREAM_WAVE, WaveDescription(48000, 32767, -32768, 80));
  FeedOneSample(STREAM_WAVE);
  EXPECT_EQ(proc.Malformed(), 2U);
  EXPECT_TRUE(posted.empty()) << "a message with a bad channel posts nothing";
  // Data on a stream that has no description at all.
  FeedOneSample(STREAM_FFT);
  EXPECT_EQ(proc.Malformed(), 3U);
}

TEST_F(Proc, DivisorsFromOutsideAreCheckedAndWideCountSpansHeld) {
  Feed(STREAM_WAVE, WaveDescription(0, 32767, -32768));
  EXPECT_FALSE(proc.HasDescription(STREAM_WAVE));
  Feed(STREAM_FFT, FftDescription(0, 4));
  Feed(STREAM_FFT, FftDescription(512, 0));
  EXPECT_FALSE(proc.HasDescription(STREAM_FFT));
  EXPECT_EQ(proc.Malformed(), 3U);
  // A 4-byte descriptor's full range: the span is 2^32, not an overflowed 0.
  Feed(STREAM_WAVE, WaveDescription(48000, 2147483647, -2147483648LL));
  Feed(STREAM_WAVE, DataHead(0, 1, 4, 1).U32(-5).Done());
  ASSERT_EQ(Samples(0), std::vector<std::int32_t>{-5});
  EXPECT_DOUBLE_EQ(posted[0]->As<WaveformRecord>().voltsPerCount, 5.0 / 4294967296.0);
}

// Data under an unusable description are dropped, never read under the good one before it.
TEST_F(Proc, DataAfterAnUnusableDescriptionWaitForTheNextGoodOne) {
  auto withType = [](std::uint8_t type) {
    auto d = WaveDescription(64000, 8388607, -8388608);
    d[68 + 5] = type;
    return d;
  };
  const struct {
    const char* what;
    std::vector<std::uint8_t> description;
  } bad[] = {{"zero rate", WaveDescription(0, 8388607, -8388608)},
             {"rate beyond any unit", WaveDescription(0x7FFFFFFF, 8388607, -8388608)},
             {"count limits reversed", WaveDescription(64000, -8388608, 8388607)},
             {"channel type 255", withType(255)}};
  auto data = [](std::uint64_t first) {
    return DataHead(0, 1, 3, 2, first).U8(0).U8(0).U8(1).U8(0).U8(0).U8(2).Done();
  };
  std::uint64_t counter = 0;
  for (const auto& b : bad) {
    Feed(STREAM_WAVE, WaveDescription(64000, 8388607, -8388608));
    Feed(STREAM_WAVE, data(counter += 64000));
    const auto before = posted.size();
    const auto malformed = proc.Malformed();
    Feed(STREAM_WAVE, b.description);
    Feed(STREAM_WAVE, data(counter += 64000));
    EXPECT_EQ(posted.size(), before) << b.what;
    EXPECT_EQ(proc.Malformed(), malformed + 2) << b.what << ": the description and its data";
  }
  Feed(STREAM_WAVE, WaveDescription(64000, 8388607, -8388608));
  Feed(STREAM_WAVE, data(counter += 64000));
  ASSERT_EQ(posted.size(), std::size(bad) + 1);
  EXPECT_EQ(posted.back()->As<WaveformRecord>().firstSample, counter);
  EXPECT_EQ(posted.back()->As<WaveformRecord>().samples[1], 2);
}

TEST_F(Proc, SpectrumRecordsMapBinsAndPadTo512) {
  Feed(STREAM_FFT, FftDescription(512, 4, -20));
  Writer w = DataHead(32000, 1, 1, 3, 4096);
  w.U8(255).U8(0).U8(201);
  Feed(STREAM_FFT, w.Done());
  ASSERT_EQ(posted.size(), 1U);
  const auto& r = posted[0]->As<SpectrumRecord>();
  EXPECT_EQ(r.bins[0], 32);  // trunc(256 / 2) − 156 + 60
  EXPECT_EQ(r.bins[2], 5);   // trunc(202 / 2) − 96
  EXPECT_EQ(r.firstSample, 4096U + 32000U);
  EXPECT_EQ(r.recordIndex, (4096U + 32000U) / (512U * 4U));
  EXPECT_DOUBLE_EQ(r.timeSeconds, 1700000001.5);
  EXPECT_DOUBLE_EQ(r.recordSeconds, 4.0 * 512 / 64000);
  Writer big = DataHead(0, 1, 1, 513);
  big.Pad(4 + 28 + 513);
  Feed(STREAM_FFT, big.Done());
  EXPECT_EQ(posted.size(), 1U);
  EXPECT_EQ(proc.Malformed(), 1U);
}

TEST_F(Proc, StatusRecordWalkStopsAtTheMessageEndAndSkipsShortRecords) {
  proc.SetFirmwareVersion(0x20201);
  std::vector<std::pair<int, int>> env;
  std::vector<std::uint32_t> syncStates;
  StreamStatusSink sink;
  sink.environment = [&](std::optional<int> t, std::optional<int> h) {
    env.emplace_back(t.value_or(-1), h.value_or(-1));
  };
  sink.sync = [&](const std::array<std::uint8_t, 24>& rec, std::uint32_t state) {
    syncStates.push_back(state);
    EXPECT_EQ(rec[8] | (rec[9] << 8) | (rec[10] << 16) | (rec[11] << 24), 0x01020304);
  };
  proc.SetStatusSink(sink);
  Writer w('5');
  w.U8('J').U8(0).U16(2).U16(0);             // too short for a sync record: skipped
  w.U8('H').U8(0).U16(4).U16(200).U16(500);  // taken
  w.U8('J').U8(0).U16(20).U8(1).U8(2).U8(0).U8(0).U32(0x01020304).U32(0).U32(0).U32(0);
  w.U8('H').U8(0).U16(40).U16(1).U16(1);  // runs past the end: ends the walk
  Feed(STREAM_STATUS, w.Done());
  ASSERT_EQ(env.size(), 1U);
  EXPECT_EQ(env[0], std::make_pair(200, 500));
  ASSERT_EQ(syncStates.size(), 1U);
  EXPECT_EQ(syncStates[0], 0x0201U) << "sync mode in the low byte, time source next";
  // Older firmware sends the record lengths little-endian.
  proc.SetFirmwareVersion(0x20200);
  Writer old('5');
  old.U8('H').U8(0).U8(4).U8(0).U16(-15 & 0xFFFF).U16(300);
  Feed(STREAM_STATUS, old.Done());
  ASSERT_EQ(env.size(), 2U);
  EXPECT_EQ(env[1], std::make_pair(-15, 300));
}

TEST_F(Proc, NonZeroFormatBytesInvalidateAndNoticesAreShown) {
  auto bad = WaveDescription(48000, 32767, -32768);
  bad[33] = 1;  // environment block format
  Feed(STREAM_WAVE, bad);
  EXPECT_FALSE(proc.HasDescription(STREAM_WAVE));
  Feed(STREAM_FFT, Writer('0').U32(2).Done());
  Feed(STREAM_WAVE, Writer('4').Done());
  EXPECT_EQ(notices, (std::vector<std::string>{"FFT Stream Connection Timed Out", "Stream stopped by Aurisond."}));
}

struct BinCase {
  int referenceLevel;
  int received;
  int expected;
};
struct BinMapping : Proc, ::testing::WithParamInterface<BinCase> {};

// 300 received bins, each mapped by the description's reference level, padded to 512.
TEST_P(BinMapping, ThreeHundredBinsMapAndPadTo512) {
  const auto [level, received, expected] = GetParam();
  Feed(STREAM_FFT, FftDescription(512, 4, level));
  Writer w = DataHead(0, 1, 1, 300);
  for (int i = 0; i < 300; ++i) w.U8(received);
  Feed(STREAM_FFT, w.Done());
  ASSERT_EQ(posted.size(), 1U);
  const auto& r = posted[0]->As<SpectrumRecord>();
  EXPECT_EQ(r.binCount, 512U);
  EXPECT_EQ(r.reference, static_cast<std::uint8_t>(-120 - level));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(r.bins[i], expected) << "bin " << i;
  for (int i = 300; i < 512; ++i) ASSERT_EQ(r.bins[i], 0) << "padding bin " << i;
}

INSTANTIATE_TEST_SUITE_P(Proc, BinMapping,
                         ::testing::Values(BinCase{0, 255, 52}, BinCase{-120, 255, 188}, BinCase{0, 0, 0},
                                           BinCase{-120, 0, 60}));
