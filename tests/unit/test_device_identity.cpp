#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/DeviceIdentity.h"

using namespace hylo;

namespace {

// An identify reply laid out byte by byte, independent of the decoder.
std::vector<std::uint8_t> HfReply(std::uint8_t model, std::uint8_t level, std::size_t length) {
  std::vector<std::uint8_t> r(length, 0);
  // Bytes past `length` are left out: a short reply is a cut-off long one.
  auto put = [&](std::size_t at, std::initializer_list<int> bytes) {
    for (int v : bytes) {
      if (at < r.size()) r[at] = static_cast<std::uint8_t>(v);
      ++at;
    }
  };
  auto text = [&](std::size_t at, const char* s) {
    for (std::size_t i = 0; s[i] && at + i < r.size(); ++i) r[at + i] = static_cast<std::uint8_t>(s[i]);
  };
  put(0, {1234 & 0xFF, 1234 >> 8});
  text(2, "v2.1.0");
  text(10, "Hydrophone HF");
  put(28, {model, 0, 0, 0, level});
  put(33, {-1715 & 0xFF, (-1715 >> 8) & 0xFF, 215, 0, 453 & 0xFF, 453 >> 8});  // −171.5 dB, 21.5 °C, 45.3 %
  put(39, {1, 87, 2, 3});
  text(43, "2.1.0-r7");
  put(51, {1, 9});
  text(53, "Board rev B 2024");
  return r;
}

}  // namespace

TEST(VersionReply, HfAtEachDetailLevelReadsOnlyItsFields) {
  auto level0 = ParseVersionReply(HfReply(5, 0, 30));
  ASSERT_TRUE(level0);
  EXPECT_EQ(level0->identity.unitNumber, 1234);
  EXPECT_EQ(level0->identity.firmwareText, "v2.1.0");
  EXPECT_EQ(level0->identity.modelCode, 5);
  EXPECT_FALSE(level0->status.sensitivityDb);

  auto level3 = ParseVersionReply(HfReply(5, 3, 43));
  ASSERT_TRUE(level3);
  EXPECT_EQ(level3->status.sensitivityDb, -171);
  EXPECT_DOUBLE_EQ(*level3->status.temperatureC, 21.5);
  EXPECT_DOUBLE_EQ(*level3->status.humidityPercent, 45.3);
  EXPECT_EQ(level3->status.batteryLevel, 87);
  EXPECT_EQ(level3->identity.interfaceCode, 3);
  EXPECT_TRUE(level3->identity.releaseText.empty()) << "release text comes only from level 4";

  auto level5 = ParseVersionReply(HfReply(7, 5, 69));
  ASSERT_TRUE(level5);
  EXPECT_EQ(level5->identity.releaseText, "2.1.0-r7");
  EXPECT_EQ(level5->identity.hardwareText, "Board rev B 2024");
  EXPECT_EQ(level5->status.setupByte, 9);
}

TEST(VersionReply, ALevelClaimingMoreThanTheReplyHoldsReadsNothingPastIt) {
  // Level 5 claimed, but the reply ends inside the release text.
  auto reply = ParseVersionReply(HfReply(5, 5, 47));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->identity.interfaceCode, 3);
  EXPECT_TRUE(reply->identity.releaseText.empty());
  EXPECT_TRUE(reply->identity.hardwareText.empty());
  EXPECT_FALSE(reply->status.syncState);
  // Shorter than the fixed head: refused.
  EXPECT_FALSE(ParseVersionReply(HfReply(5, 0, 29)));
  EXPECT_FALSE(ParseVersionReply({}));
}

TEST(VersionReply, LfLayoutAndUnknownModels) {
  std::vector<std::uint8_t> r(45, 0);
  r[0] = 0x39;
  r[1] = 0x30;  // 12345
  std::memcpy(&r[2], "v2.7.99", 7);
  r[28] = 2;
  r[32] = 2;
  r[33] = 0x34;
  r[34] = 0x12;
  r[35] = static_cast<std::uint8_t>(-165 & 0xFF);
  r[36] = static_cast<std::uint8_t>((-165 >> 8) & 0xFF);
  r[37] = 0x5A;
  r[38] = 1;
  r[43] = 2;
  auto lf = ParseVersionReply(r);
  ASSERT_TRUE(lf);
  EXPECT_EQ(lf->identity.modelCode, 2);
  EXPECT_EQ(lf->identity.unitNumber, 12345);
  EXPECT_EQ(lf->identity.extraWord, 0x1234);
  EXPECT_EQ(lf->status.sensitivityDb, -165);
  EXPECT_EQ(lf->identity.lfStatusByte, 0x5A);
  EXPECT_EQ(lf->identity.interfaceCode, 1);
  EXPECT_EQ(lf->status.syncState, 2);
  EXPECT_EQ(FirmwareVersion(lf->identity.firmwareText), 0x20763U);

  r[28] = 3;
  auto other = ParseVersionReply(r);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->identity.modelCode, kModelUnknown);
  EXPECT_EQ(DescribeUnit(other->identity), "Aurisond not found. Data not valid");
}

TEST(UnitTexts, DescriptionFirmwareNumbersAndLabels) {
  DeviceIdentity id;
  id.modelCode = 5;
  id.unitNumber = 77;
  id.firmwareText = "v2.1.0";
  id.releaseText = "2.1.3";
  id.unitStatus = 9;
  EXPECT_EQ(DescribeUnit(id), "Aurisond HF # 77 Unknown   Firmware R2.1.3");
  id.releaseText.clear();
  EXPECT_EQ(DescribeUnit(id), "Aurisond HF # 77 Unknown   Firmware v2.1.0");
  id.releaseText = "2.1.3";
  // Units send the release with its own letter; the line shows it once.
  for (const char* release : {"r2.1.3", "R2.1.3"}) {
    id.releaseText = release;
    EXPECT_EQ(DescribeUnit(id), "Aurisond HF # 77 Unknown   Firmware R2.1.3");
  }
  EXPECT_EQ(FirmwareVersion("v1.5.0").packed, 0x10500U);
  EXPECT_EQ(FirmwareVersion("v2.1.0"), Firmware(2, 1, 0));
  EXPECT_LT(FirmwareVersion("v2.0.255"), Firmware(2, 1, 0));
  EXPECT_FALSE(FirmwareVersion("2.1.0").Known());
  EXPECT_EQ(Firmware(2, 7, 3).Text(), "v2.7.3");
  EXPECT_EQ(ModelLabel(99, 3), "Unknown 3");
}
