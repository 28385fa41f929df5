// The instrument file protocol's bodies, replies, block plans and names, byte by byte.
#include <gtest/gtest.h>

#include "files/FileProtocol.h"
#include "files/HyloFileSystem.h"

using namespace hylo::files;

namespace {
std::vector<std::uint8_t> ListingOf(const std::vector<std::string>& names) {
  std::vector<std::uint8_t> d{0, static_cast<std::uint8_t>(names.size() * 12)};
  for (const auto& n : names) {
    std::vector<std::uint8_t> e(n.begin(), n.end());
    e.resize(12, 0);
    d.insert(d.end(), e.begin(), e.end());
  }
  return d;
}
}  // namespace

TEST(FileProtocol, BlockPlansAndProgress) {
  EXPECT_EQ(ReadBlocks(10000), (std::vector<Block>{{0, 4096}, {4096, 4096}, {8192, 1808}}));
  EXPECT_EQ(ReadBlocks(4096), (std::vector<Block>{{0, 4096}}));
  EXPECT_EQ(WriteBlocks(938), (std::vector<Block>{{0, 938}}));
  EXPECT_EQ(WriteBlocks(939), (std::vector<Block>{{0, 938}, {938, 1}}));
  EXPECT_EQ(WriteBlocks(0), (std::vector<Block>{{0, 0}}));
  EXPECT_EQ(ProgressText(10000, 10000), "10 / 10 KB");
  EXPECT_EQ(ProgressText(4096, 10000), "4 / 10 KB");
  EXPECT_EQ(ProgressPercent(8192, 10000), 81);
  EXPECT_EQ(ProgressPercent(0xFFFFFFFFull, 0xFFFFFFFFull), 100);
}

TEST(FileProtocol, BodiesCarryPlaceNameOffsetAndLengthBigEndian) {
  const RemotePath file{2, {"data", "sub"}, "rec.wav"};
  auto body = BlockBody(file, 0x01020304, 938, std::vector<std::uint8_t>(3, 0xAA));
  SetTransaction(body, 0x1234);
  ASSERT_EQ(body.size(), 83u);
  EXPECT_EQ(body[0], 0x12);
  EXPECT_EQ(body[1], 0x34);
  EXPECT_EQ(body[2], 2);
  EXPECT_EQ(std::string(body.begin() + 3, body.begin() + 7), "DATA");
  EXPECT_EQ(body[7], 0);
  EXPECT_EQ(std::string(body.begin() + 15, body.begin() + 18), "SUB");
  EXPECT_EQ(body[27], 0) << "unused components start with a zero byte";
  EXPECT_EQ(std::string(body.begin() + 63, body.begin() + 66), "REC");
  EXPECT_EQ(body[66], 0);
  EXPECT_EQ(std::string(body.begin() + 71, body.begin() + 74), "WAV");
  EXPECT_EQ((std::vector<std::uint8_t>(body.begin() + 74, body.begin() + 80)),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 0x03, 0xAA}));
  EXPECT_EQ(ListBody(file).size(), 63u);
  EXPECT_EQ(NameBody(file).size(), 74u);
  EXPECT_EQ(SplitShortName("Long Name.Part.wave").Text(), "LONG NAM.WAV");
  EXPECT_EQ(SecondName(SplitShortName("BOOT5505.BAK"), 71).size(), 71u);
}

TEST(FileProtocol, ListingHidesTheBootFileAndRefusesNamesThatNameNoPlace) {
  const auto listing = ParseListing(ListingOf(
      {"DATA", "BOOT5505.BIN", "F0001.WAV", "", ".", "..", "A/B.TXT", "..\\X.TXT", "TOOLONGNAME.TXT", "WAYTOOLONG12"}));
  ASSERT_TRUE(listing.ok);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"DATA", "F0001.WAV"}));
  EXPECT_EQ(listing.refused.size(), 7u);
  auto nul = ListingOf({"AB"});
  nul[2 + 4] = 'X';  // a NUL inside the entry followed by more text
  EXPECT_EQ(ParseListing(nul).refused.size(), 1u);
  auto claimsMore = ListingOf({"DATA"});
  claimsMore[1] = 24;
  EXPECT_FALSE(ParseListing(claimsMore).ok);
}

TEST(FileProtocol, BlocksMustBeTheLengthAskedAndInsideTheReply) {
  const std::vector<std::uint8_t> whole{0, 3, 1, 2, 3};
  ASSERT_TRUE(ParseBlock(whole, 3));
  EXPECT_EQ(ParseBlock(whole, 3)->size(), 3u);
  EXPECT_FALSE(ParseBlock(whole, 4)) << "short block";
  EXPECT_FALSE(ParseBlock(std::vector<std::uint8_t>{0, 4, 1, 2, 3}, 4)) << "n past the reply";
  EXPECT_FALSE(ParseBlock(std::vector<std::uint8_t>{0, 0}, 0)) << "n = 0 is a failure";
  EXPECT_FALSE(ParseOpenSize(std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(ParseFetch(std::vector<std::uint8_t>{0x40, 0x35, 0x12, 0}, 0x1235)) << "too short";
  EXPECT_EQ(ParseFetch(std::vector<std::uint8_t>{0x40, 0x35, 0x12, 6, 0, 9}, 0x1235)->status, 6);
  EXPECT_FALSE(ParseFetch(std::vector<std::uint8_t>{0x40, 0x12, 0x35, 0, 0}, 0x1235)) << "numbers are low byte first";
  EXPECT_FALSE(ParsePending(std::vector<std::uint8_t>{2, 1, 0}));
}

TEST(FileProtocol, PathsAndDepth) {
  std::string error;
  const auto p = ParseRemotePath("/1/data/f0001.wav", error);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Text(), "/1/DATA/F0001.WAV");
  for (const char* bad : {"/3/DATA", "DATA", "/1/../X", "/1/A.B/C", "/1/NINECHARS"})
    EXPECT_FALSE(ParseRemotePath(bad, error)) << bad;
  EXPECT_TRUE(AddressableDepth(*ParseRemotePath("/1/A/B/C/D/E/F.TXT", error)));
  EXPECT_FALSE(AddressableDepth(*ParseRemotePath("/1/A/B/C/D/E/F", error)));
  EXPECT_FALSE(FirmwarePasswordOk("wrong!"));
}
