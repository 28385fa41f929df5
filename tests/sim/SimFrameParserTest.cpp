// Frame layout and parser robustness of the simulator's command link.
#include <gtest/gtest.h>

#include "SimFrameParser.h"

using namespace hylo::sim;

namespace {
std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<std::uint8_t> b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}
}  // namespace

TEST(SimFrame, CommandsMatchKnownBytes) {
  EXPECT_EQ(BuildSimFrame('E', {}), Bytes({0x2A, 0x45, 0x00, 0x00, 0x19, 0xCD}));
  EXPECT_EQ(BuildSimFrame('B', Bytes({0x00, 0x4B, 0x00, 0x00})),
            Bytes({0x2A, 0x42, 0x04, 0x00, 0x00, 0x4B, 0x00, 0x00, 0x91, 0xF1}));
}

TEST(SimFrameParser, ParsesFrameSplitAcrossReads) {
  const auto f = BuildSimFrame('C', Bytes({0x06, 0x00}));
  SimFrameParser p;
  std::vector<hylo::sim::SimFrame> got;
  for (auto b : f) {
    auto out = p.Feed(std::span<const std::uint8_t>(&b, 1));
    got.insert(got.end(), out.begin(), out.end());
  }
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].letter, 'C');
  EXPECT_EQ(got[0].payload, Bytes({0x06, 0x00}));
}

// Whatever comes before a good frame, the good frame is still found.
TEST(SimFrameParser, AGoodFrameIsFoundAfterWhatCannotBeOne) {
  auto badCrc = BuildSimFrame('A', Bytes({0, 0, 0, 0}));
  badCrc.back() ^= 0xFF;
  const struct {
    const char* what;
    std::vector<std::uint8_t> before;
    char letter;
    std::size_t badFrames;
  } cases[] = {
      {"a wrong CRC", badCrc, 'E', 1},
      {"garbage and invalid letters", Bytes({0x00, 0x2A, 0x20, 0x2A, 0x5D, 0x01, 0xFF}), 'Z', 0},
      // Length 8000 is above what a receiver accepts; the frame inside the "payload" is still found.
      {"an oversized length", Bytes({0x2A, 0x45, 0x40, 0x1F}), 'E', 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> stream = c.before;
    const auto good = BuildSimFrame(c.letter, {});
    stream.insert(stream.end(), good.begin(), good.end());
    SimFrameParser p;
    const auto out = p.Feed(stream);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].letter, c.letter);
    if (c.badFrames > 0) {
      EXPECT_EQ(p.BadFrames(), c.badFrames);
    }
  }
}
