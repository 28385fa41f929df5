#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "link/LinkRecords.h"
#include "stream/HyloProcMsg.h"
#include "stream/StatusStore.h"

using namespace hylo;

namespace {

struct Reports : ::testing::Test {
  HyloNodes nodes;
  HyloProcMsg msg;
  StatusStore status;
  DeviceIdentity identity;
  std::vector<std::string> lines, notices;
  int saves = 0;
  std::vector<std::pair<int, std::vector<std::uint8_t>>> triggerReports;
  std::vector<int> states;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    identity.modelCode = kModelHf;
    ReplyPort port;
    port.identity = [this] { return identity; };
    port.status = &status;
    port.logLine = [this](std::string_view l) { lines.emplace_back(l); };
    port.showNotice = [this](std::string_view n) { notices.emplace_back(n); };
    port.saveDisplaySettings = [this] { ++saves; };
    port.epochTriggerReport = [this](int i, std::span<const std::uint8_t> rest) {
      triggerReports.emplace_back(i, std::vector<std::uint8_t>(rest.begin(), rest.end()));
    };
    port.epochState = [this](int s) { states.push_back(s); };
    msg.RegisterReportHandlers(port);
  }
  void TearDown() override { EXPECT_EQ(nodes.FreeCount(), kNodeCount); }
  // A reply frame as CommsThread forwards it, through the dispatch table.
  bool Reply(char letter, const std::vector<std::uint8_t>& payload) {
    auto node = std::make_unique<MessageNode>();  // read in place, never queued
    node->type = MSG_REPLY_FRAME;
    auto& frame = node->As<ReplyFrame>();
    frame.letter = static_cast<std::uint8_t>(letter);
    frame.length = static_cast<std::int32_t>(payload.size());
    std::copy(payload.begin(), payload.end(), frame.payload.begin());
    return msg.DispatchReply(*node);
  }
};

std::vector<std::uint8_t> Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

}  // namespace

TEST_F(Reports, TimeSyncShowsTheInstrumentTimeOfDayAndShortRepliesAreIgnored) {
  const std::uint32_t seconds = 19000U * 86400U + 13U * 3600U + 5U * 60U + 9U;
  EXPECT_TRUE(Reply('A', Le32(seconds)));
  EXPECT_TRUE(Reply('A', {1, 2}));  // no whole time stamp: nothing to tell
  EXPECT_EQ(lines, (std::vector<std::string>{"Aurisond HF time synced to 13:05:09 UTC"}));
}

struct GainCase {
  int model;
  int gain;
  const char* text;
};
struct Gains : Reports, ::testing::WithParamInterface<GainCase> {};

TEST_P(Gains, GainReportTextByModelAndGain) {
  identity.modelCode = static_cast<std::uint8_t>(GetParam().model);
  EXPECT_TRUE(Reply('G', {static_cast<std::uint8_t>(GetParam().gain)}));
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], std::string(ModelName(GetParam().model)) + " Acoustic Gain set to " + GetParam().text);
  EXPECT_EQ(saves, 1) << "the display settings are saved after each report";
}

INSTANTIATE_TEST_SUITE_P(Reports, Gains,
                         ::testing::Values(GainCase{2, 72, "72dB"}, GainCase{5, 78, "0dB"}, GainCase{5, 13, "0dB"},
                                           GainCase{9, 12, "-"}));

TEST_F(Reports, BatteryReportNeedsAZeroWordAndUnknownLevelsStoreAsZero) {
  EXPECT_TRUE(Reply('Z', {0, 0, 1, 80}));
  EXPECT_EQ(status.Copy().batteryLevel, 80);
  EXPECT_EQ(status.Copy().batteryState, 1);
  Reply('Z', {1, 0, 0, 20});  // a non-zero first word: not a battery reading
  Reply('Z', {0, 0, 1});      // short: ignored
  EXPECT_EQ(status.Copy().batteryLevel, 80);
  Reply('Z', {0, 0, 1, 0xFB});  // −5: unknown
  EXPECT_EQ(status.Copy().batteryLevel, 0);
  EXPECT_EQ(status.Copy().batteryState, 0);
}

TEST_F(Reports, SyncReportBuildsTheSyncRecordAndState) {
  std::vector<std::uint8_t> p = {0xAA, 0xBB, 5, 0x84};
  for (std::uint32_t w : {0x11223344U, 0x55667788U, 0x0A0B0C0DU, 1700000000U}) {
    const auto b = Le32(w);
    p.insert(p.end(), b.begin(), b.end());
  }
  EXPECT_TRUE(Reply('[', p));
  const auto v = status.Copy();
  EXPECT_EQ(v.syncRecord[5], 0x84);
  std::uint32_t words[4];
  std::memcpy(words, v.syncRecord.data() + 8, sizeof words);
  EXPECT_EQ(words[0], 0x11223344U);
  EXPECT_EQ(words[3], 1700000000U);
  EXPECT_EQ(v.syncState, 5 | (0x84 << 8));
  p.resize(19);  // one byte short of the last word: the store keeps what it had
  p[2] = 1;
  Reply('[', p);
  EXPECT_EQ(status.Copy().syncRecord[4], 5);
}

TEST_F(Reports, EpochRepliesAndPasswordReset) {
  Reply('R', {2, 9, 8});
  Reply('R', {6, 9});  // no such trigger slot
  ASSERT_EQ(triggerReports.size(), 1U);
  EXPECT_EQ(triggerReports[0].first, 2);
  EXPECT_EQ(triggerReports[0].second, (std::vector<std::uint8_t>{9, 8}));
  Reply('T', {0});
  Reply('T', {3});
  Reply('U', {4});
  Reply('U', {});
  Reply('V', {0});
  EXPECT_EQ(states, (std::vector<int>{4}));
  EXPECT_EQ(notices, (std::vector<std::string>{"Epoch Trigger removed successfully", "Error: Epoch remove failed",
                                               "Password Reset"}));
  EXPECT_EQ(lines, (std::vector<std::string>{"Epoch Trigger Removed", "Epoch remove failed"}));
  EXPECT_FALSE(Reply('D', {0, 0, 0, 0, 0, 0})) << "the setup result has a handler of its own";
}
