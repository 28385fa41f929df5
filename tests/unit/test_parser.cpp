// Command-link frames: the CRC, and the parser that cuts them from what a link reads.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "link/CommandLetters.h"
#include "link/HyloParser.h"
#include "link/LinkRecords.h"
#include "link/LinkState.h"
#include "support/SimProcess.h"
#include "test_link_support.h"
#include "wire/CRC_Update.h"

using namespace hylo;
using linktest::Bytes;
using linktest::Frame;
using namespace std::chrono_literals;

namespace {

struct LinkParser : ::testing::Test {
  HyloNodes nodes;
  HyloThreadControl threads{nodes};
  linktest::CaptureWorker comms;
  HyloParser parser{threads};

  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
    threads.SetWorker(COMMS_THREAD, &comms);
    ASSERT_EQ(threads.StartWorkerThreads(), 0);
    parser.InitReplyParser();
  }
  void TearDown() override { threads.StopWorkerThreads(); }

  int Feed(const Bytes& b) { return parser.ParseReplyBytes(b); }
  static Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }
};

// Whole reads and the frames the parser finds in each; every case ends where a frame ends.
TEST_F(LinkParser, FramesFoundInARead) {
  Bytes badCrc = Frame('C', {1, 2, 3});
  badCrc.back() ^= 0xFF;
  const Bytes noise{0x00, 0xFF, 0x2A, 0x20, 0x13, 0x2A, 0x7F, 0x99};
  const struct {
    const char* what;
    Bytes read;
    int frames;
  } cases[] = {
      {"two frames", Cat({Frame('C', {1, 2, 3}), Frame('Z', {0, 0, 9, 8})}), 2},
      {"echoed identify", {0x2A, 0x45, 0x00, 0x00, 0x19, 0xCD}, 0},
      {"identify reply", Frame('E', {1, 2}), 1},
      {"bad CRC, then a frame", Cat({badCrc, Frame('C', {4})}), 1},
      {"noise between frames", Cat({noise, Frame('R', {7}), noise, Frame('T', {8}), noise}), 2},
      {"start bytes before a frame", Cat({{0x2A, 0x2A, 0x2A}, Frame('U', {})}), 1},
      {"letter ]", Frame(']', {1}), 0},
      {"letter @", Frame('@', {1}), 0},
  };
  int total = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(Feed(c.read), c.frames) << c.what;
    total += c.frames;
  }
  ASSERT_TRUE(comms.WaitCount(static_cast<std::size_t>(total)));
  const auto seen = comms.Seen();
  EXPECT_EQ(seen[1].letter, 'Z');
  EXPECT_EQ(seen[1].payload, (Bytes{0, 0, 9, 8}));
  EXPECT_EQ(seen[3].payload, (Bytes{4}));
}

TEST_F(LinkParser, OneFrameOverThreeReads) {
  const Bytes f = Frame('A', {0x10, 0x20, 0x30, 0x40});
  EXPECT_EQ(Feed(Bytes(f.begin(), f.begin() + 3)), 0);
  EXPECT_EQ(Feed(Bytes(f.begin() + 3, f.begin() + 6)), 0);
  EXPECT_EQ(Feed(Bytes(f.begin() + 6, f.end())), 1);
  ASSERT_TRUE(comms.WaitCount(1));
  EXPECT_EQ(comms.Seen()[0].payload, (Bytes{0x10, 0x20, 0x30, 0x40}));
}

TEST_F(LinkParser, LongestPayloadAcceptedOneMoreRejected) {
  const Bytes longest(7994, 0x5A);
  EXPECT_EQ(Feed(Frame('F', longest)), 1);
  ASSERT_TRUE(comms.WaitCount(1));
  EXPECT_EQ(comms.Seen()[0].payload, longest);

  // N = 7995 goes back to hunting at the length byte; what follows is scanned as noise.
  Bytes tooLong{0x2A, 'F', 0x3B, 0x1F};
  tooLong.resize(4 + 7995 + 2, 0x00);
  EXPECT_EQ(Feed(tooLong), 0);
  EXPECT_EQ(parser.State(), 0);
  EXPECT_EQ(Feed(Frame('G', {1})), 1);  // and the parser is hunting again
}

TEST_F(LinkParser, ResetDropsAHalfFrame) {
  const Bytes f = Frame('C', {1, 2, 3, 4});
  EXPECT_EQ(Feed(Bytes(f.begin(), f.begin() + 5)), 0);
  parser.ResetReplyParser();
  EXPECT_EQ(Feed(Bytes(f.begin() + 5, f.end())), 0);
  EXPECT_EQ(Feed(f), 1);
}

TEST_F(LinkParser, StoppedParserAcceptsNothing) {
  parser.StopReplyParser();
  EXPECT_EQ(Feed(Frame('C', {1})), -2);
  parser.InitReplyParser();
  EXPECT_EQ(Feed(Frame('C', {1})), 1);
}

TEST_F(LinkParser, NoFreeNodeDropsTheRestOfTheRead) {
  std::vector<MessageNode*> held;
  while (MessageNode* n = nodes.AllocNode(MSG_TEXT, 1)) held.push_back(n);
  EXPECT_EQ(Feed(Cat({Frame('C', {1}), Frame('C', {2})})), 0);
  for (auto* n : held) nodes.FreeNode(n);
  EXPECT_EQ(Feed(Frame('C', {3})), 1);
  ASSERT_TRUE(comms.WaitCount(1));
  EXPECT_EQ(comms.Seen()[0].payload, (Bytes{3}));
}

}  // namespace

TEST(LinkCrc, KnownFramesAndLimits) {
  EXPECT_EQ(CRC_Update(0, Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xBB3D) << "the check value";
  EXPECT_EQ(linktest::Frame(cmd::kIdentify, {}), (Bytes{0x2A, 0x45, 0x00, 0x00, 0x19, 0xCD}));
  EXPECT_EQ(linktest::Frame(cmd::kBaudRate, {0x00, 0x4B, 0x00, 0x00}),  // 19200
            (Bytes{0x2A, 0x42, 0x04, 0x00, 0x00, 0x4B, 0x00, 0x00, 0x91, 0xF1}));
  std::array<std::uint8_t, cmd::kFrameArea> area{};
  EXPECT_EQ(BuildFrame('D', Bytes(cmd::kMaxCommandPayload, 7), area), 8004);
  EXPECT_EQ(BuildFrame('D', Bytes(cmd::kMaxCommandPayload + 1, 7), area), -1);
  EXPECT_FALSE(cmd::IsCommandLetter(']'));
  EXPECT_EQ(SerialTimeoutForBaud(1200), 1100);
  EXPECT_EQ(SerialTimeoutForBaud(1250000), 101);
}

// Against the bit-at-a-time CRC the tests read the simulator's frames with: no table, so a wrong
// table entry cannot hide.
TEST(LinkCrc, AgreesWithABitAtATimeCrc) {
  std::mt19937 rng(4242);
  Bytes data(4096);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (const std::size_t n : {1U, 17U, 500U, 4096U}) {
    const std::span<const std::uint8_t> part(data.data(), n);
    EXPECT_EQ(CRC_Update(0, part), test::FrameCrc(part)) << n << " bytes";
  }
}
