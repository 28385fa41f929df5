#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "stream/ParseStreams.h"

using namespace hylo;

namespace {

std::vector<std::uint8_t> Message(char type, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> m(4 + payload.size());
  m[0] = static_cast<std::uint8_t>(type);
  m[1] = '*';
  m[2] = static_cast<std::uint8_t>(payload.size() >> 8);
  m[3] = static_cast<std::uint8_t>(payload.size() & 0xFF);
  std::copy(payload.begin(), payload.end(), m.begin() + 4);
  return m;
}

struct Seen {
  int stream;
  char type;
  std::vector<std::uint8_t> payload;
};

struct Streams : ::testing::Test {
  ParseStreams parser;
  std::vector<Seen> seen;
  void SetUp() override {
    for (char t = '0'; t <= '5'; ++t) {
      parser.SetHandler(t, [this](int stream, const StreamMessage& m) {
        seen.push_back({stream, static_cast<char>(m.type), {m.payload.begin(), m.payload.end()}});
      });
    }
  }
};

}  // namespace

TEST_F(Streams, GarbageIsSkippedUntilATypeByteAndStar) {
  std::vector<std::uint8_t> block = {'x', 'y', '1', '2'};  // "2" then "*" starts the message
  const auto m = Message('2', {1, 2, 3});
  block.insert(block.end(), m.begin(), m.end());
  const auto z = Message('4', {});
  block.insert(block.end(), z.begin(), z.end());
  parser.ReassembleStream(STREAM_FFT, block);
  ASSERT_EQ(seen.size(), 2U);
  EXPECT_EQ(seen[0].type, '2');
  EXPECT_EQ(seen[0].payload, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(seen[1].type, '4');
  EXPECT_TRUE(seen[1].payload.empty()) << "a zero-length message is dispatched at once";
  EXPECT_EQ(seen[1].stream, STREAM_FFT);
}

TEST_F(Streams, StreamsKeepTheirOwnStateAndLongestPayloadFits) {
  const auto wave = Message('1', std::vector<std::uint8_t>(1460, 0xAB));
  const auto status = Message('5', {9, 9});
  parser.ReassembleStream(STREAM_WAVE, std::span(wave).subspan(0, 700));
  parser.ReassembleStream(STREAM_STATUS, status);
  parser.ReassembleStream(STREAM_WAVE, std::span(wave).subspan(700));
  ASSERT_EQ(seen.size(), 2U);
  EXPECT_EQ(seen[0].stream, STREAM_STATUS);
  EXPECT_EQ(seen[1].payload.size(), 1460U);
}

TEST_F(Streams, OversizedLengthIsDroppedAndTheNextMessageStillArrives) {
  std::vector<std::uint8_t> block = {'1', '*', 0x05, 0xB5};  // 1461: too long
  const auto m = Message('2', {7});
  block.insert(block.end(), m.begin(), m.end());
  parser.ReassembleStream(STREAM_WAVE, block);
  EXPECT_EQ(parser.Oversized(), 1U);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().type, '2');
  EXPECT_EQ(seen.back().payload, (std::vector<std::uint8_t>{7}));
}

TEST(StreamTexts, NoticesPortsAndRequests) {
  EXPECT_EQ(StreamConnectionNotice(7, 42), "Unknown Stream Message: 42");
  EXPECT_EQ(WaveUdpPort(10), 51686);
  EXPECT_EQ(StreamStartRequest(true), (std::array<std::uint8_t, 8>{0x33, 0x2A, 0, 4, 0, 0, 0xFF, 0xFF}));
  EXPECT_EQ(StreamStopRequest(), (std::array<std::uint8_t, 4>{0x34, 0x2A, 0, 0}));
}

// Lengths 1457..1460 leave no room for the header in a 1460-byte slot; the slot holds the
// header and 1460 payload bytes, so every length a read can carry is taken, 1461 up is not.
struct Lengths : Streams, ::testing::WithParamInterface<std::size_t> {};

TEST_P(Lengths, PayloadsUpTo1460AreDeliveredWholeOnceAcrossThreeReads) {
  const std::size_t n = GetParam();
  std::vector<std::uint8_t> payload(n);
  for (std::size_t i = 0; i < n; ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + 1);
  const auto m = Message('1', payload);
  parser.ReassembleStream(STREAM_WAVE, std::span(m).subspan(0, 3));  // ends inside the header
  parser.ReassembleStream(STREAM_WAVE, std::span(m).subspan(3, kStreamReadBytes - 3));
  parser.ReassembleStream(STREAM_WAVE, std::span(m).subspan(kStreamReadBytes));
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_EQ(seen[0].payload, payload);
  EXPECT_EQ(parser.Oversized(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Streams, Lengths, ::testing::Values(1456, 1457, 1458, 1459, 1460));

TEST_F(Streams, ADatagramWhoseLengthGrewDoesNotSwallowTheNext) {
  auto damaged = Message('1', {1, 2, 3, 4});
  damaged[3] = 9;  // claims five bytes more than the datagram holds
  const auto next = Message('1', {5, 6});
  parser.ReassembleStream(STREAM_WAVE, damaged, true);
  parser.ReassembleStream(STREAM_WAVE, next, true);
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_EQ(seen[0].payload, (std::vector<std::uint8_t>{5, 6}));
}

// A byte stream has no boundaries: a damaged header must cost its own message at most, and
// every message behind it arrives whole.
struct Damage {
  const char* what;
  std::size_t offset;
  std::uint8_t flip;
};

struct DamagedHeaders : Streams, ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedHeaders, OnlyTheDamagedMessageIsLost) {
  const Damage d = GetParam();
  std::vector<std::vector<std::uint8_t>> sent;
  std::vector<std::uint8_t> stream;
  for (int k = 0; k < 4; ++k) {
    std::vector<std::uint8_t> payload(600 + 37 * k);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + k * 7 + 1);
    auto m = Message('1', payload);
    if (k == 1) m[d.offset] ^= d.flip;
    sent.push_back(payload);
    stream.insert(stream.end(), m.begin(), m.end());
  }
  for (std::size_t at = 0; at < stream.size(); at += 500)  // reads that cut messages anywhere
    parser.ReassembleStream(STREAM_WAVE, std::span(stream).subspan(at, std::min<std::size_t>(500, stream.size() - at)));
  std::vector<std::vector<std::uint8_t>> whole;
  for (const auto& s : seen) {
    if (std::find(sent.begin(), sent.end(), s.payload) != sent.end()) whole.push_back(s.payload);
  }
  EXPECT_EQ(whole, (std::vector<std::vector<std::uint8_t>>{sent[0], sent[2], sent[3]})) << d.what;
}

INSTANTIATE_TEST_SUITE_P(Streams, DamagedHeaders,
                         ::testing::Values(Damage{"star", 1, 0xFF}, Damage{"length grew", 3, 0xF0},
                                           Damage{"length shrank", 2, 0x02}, Damage{"length past the slot", 2, 0xF0}),
                         [](const auto& info) { return std::to_string(info.index); });
