#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "link/CommandLetters.h"
#include "link/LinkRecords.h"
#include "link/LinkState.h"
#include "support/RunTool.h"
#include "test_link_support.h"
#include "wire/CRC_Update.h"

using namespace hylo;
using linktest::Bytes;

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

// An independent implementation: python3-crcmod's CRC-16/ARC when it is installed, else a
// bit-at-a-time CRC in plain Python (no table, so a wrong table entry cannot hide).
TEST(LinkCrc, AgreesWithAnIndependentCrc) {
  if (!test::HaveTool("python3")) GTEST_SKIP() << "python3 is not available";
  std::mt19937 rng(4242);
  for (int round = 0; round < 5; ++round) {
    Bytes data(1 + rng() % 500);
    std::string hex;
    for (auto& b : data) {
      b = static_cast<std::uint8_t>(rng());
      hex += "0123456789abcdef"[b >> 4];
      hex += "0123456789abcdef"[b & 15];
    }
    const std::string script =
        "import sys\n"
        "d=bytes.fromhex(sys.argv[1])\n"
        "try:\n"
        " import crcmod.predefined as p; print(p.mkCrcFun('arc')(d))\n"
        "except ImportError:\n"
        " c=0\n"
        " for b in d:\n"
        "  c^=b\n"
        "  for _ in range(8): c=(c>>1)^0xA001 if c&1 else c>>1\n"
        " print(c)\n";
    const auto out = test::RunTool("python3 -c \"" + script + "\" " + hex);
    ASSERT_EQ(out.status, 0) << out.output;
    EXPECT_EQ(CRC_Update(0, std::span<const std::uint8_t>(data)), std::stoi(out.output)) << "round " << round;
  }
}
