// Epoch triggers: the tab's rows and records, the "R" reply walk, the clear/add exchange,
// and the epoch channel's text cutting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/HyloEpoch.h"
#include "link/DeviceIdentity.h"
#include "shell/ScriptedOperator.h"
#include "stream/EpochChannel.h"
#include "support/SetupUnit.h"
#include "wire/Bytes.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

std::vector<std::uint8_t> Entry(std::span<const std::uint8_t> record, std::size_t claimed) {
  std::vector<std::uint8_t> e{static_cast<std::uint8_t>(claimed & 0xFF), static_cast<std::uint8_t>(claimed >> 8)};
  for (std::uint8_t b : record) e.push_back(b);
  return e;
}

}  // namespace

TEST(EpochRecords, LfBinsRoundAndStopAt511) {
  struct Case {
    std::uint32_t hz, rate;
    std::uint16_t bin;
  };
  for (const Case c : {Case{0, 4000, 0}, {250, 4000, 64}, {2001, 4000, 511}, {3000, 4000, 511}, {1000, 0, 0}})
    EXPECT_EQ(LfBin(c.hz, c.rate), c.bin) << c.hz << " Hz at " << c.rate;
  EXPECT_EQ(LfBinFrequency(64, 4000), 250u);
  EXPECT_EQ(LfBinFrequency(511, 4000), 1997u);
}

TEST(EpochRecords, LfRowsBecomeRecordsAndComeBackUnchanged) {
  const EpochScale scale{.form = EpochForm::kLf, .numStrings = 2, .overlap = 0.5, .lfGain = 12};
  EpochRows rows{};
  // One string (2 × 1024 at half overlap, 4000 S/s) is 0.256 s: 0.6 s needs three.
  rows[0] = {.enabled = true,
             .test = 1,
             .duration = 0.256,
             .extend = 0.6,
             .minFreq = 250,
             .threshold = 100,
             .lfActions = 0x19};
  const TriggerList list = ReadTriggersFromPanel(rows, scale);
  const LfEpochTrigger t = list[0].Lf();
  EXPECT_EQ(list[0].size, kLfEpochRecordBytes);
  EXPECT_TRUE(list[0].valid);
  EXPECT_FALSE(list[1].valid) << "a row left off is not sent";
  EXPECT_EQ(t.kind, 1);
  EXPECT_EQ(t.firstDuration, 1);
  EXPECT_EQ(t.secondDuration, 3);
  EXPECT_EQ(t.lowBin, 0) << "edges swapped";
  EXPECT_EQ(t.highBin, 64);
  EXPECT_EQ(t.actions, 0x11) << "record wave and record spectrum are one choice";
  EXPECT_EQ(t.thresholdCode, 2u * (100 + 12 + 120 - 171));

  const EpochRow back = ShowTriggers(list, scale)[0];
  EXPECT_EQ(back.minFreq, 0u);
  EXPECT_EQ(back.maxFreq, 250u);
  EXPECT_EQ(back.threshold, 100);
  // Shown durations give the same string counts when applied again.
  EpochRows again = ShowTriggers(list, scale);
  EXPECT_EQ(ReadTriggersFromPanel(again, scale)[0].Lf(), t);
}

TEST(EpochRecords, HfRowsTakeTheFloorEffectsAndPreTriggerByTab) {
  EpochRow row{.enabled = true,
               .duration = 2,
               .extend = 5,
               .minFreq = 2000,
               .maxFreq = 1000,
               .threshold = 40,
               .logWave = true,
               .preTrig = 7};
  EpochRows rows{};
  rows[2] = row;
  const EpochScale older{.thresholdFloor = true, .floorDb = 51};
  const EpochScale newer{.form = EpochForm::kNewerHf};
  const EpochTrigger a = ReadTriggersFromPanel(rows, older)[2].Epoch();
  const EpochTrigger b = ReadTriggersFromPanel(rows, newer)[2].Epoch();
  EXPECT_EQ(a.threshold, 51) << "raised to the floor below 2.0.1";
  EXPECT_EQ(b.threshold, 40);
  EXPECT_EQ(a.preTrig, 0);
  EXPECT_EQ(b.preTrig, 7);
  EXPECT_EQ(b.minFreq, 1000u);
  EXPECT_EQ(b.maxFreq, 2000u);
  EXPECT_EQ(b.effect, kEffectLogWave | kEffectReport);
  EXPECT_EQ(b.slot, 3);
  EXPECT_EQ(b.type, kAboveThreshold);
  row.minFreq = 1000;
  row.maxFreq = 2000;
  EXPECT_EQ(ShowTriggers(ReadTriggersFromPanel(rows, newer), newer)[2], row);
}

TEST(EpochList, CountOfSixOrMoreChangesNothing) {
  TriggerList list{};
  EpochTrigger t;
  t.type = kAboveThreshold;
  t.active = 1;
  list[1].Set(t);
  const TriggerList before = list;
  const std::vector<std::uint8_t> none;
  EXPECT_FALSE(ParseEpochList(6, none, list));
  EXPECT_FALSE(ParseEpochList(255, none, list));
  EXPECT_EQ(list[1].valid, before[1].valid);
  EXPECT_EQ(list[1].record, before[1].record);
}

TEST(EpochList, EntriesGoToTheirSlotsAndHostileSizesStopTheWalk) {
  EpochTrigger band;
  band.type = kBelowThreshold;
  band.slot = 4;
  band.active = 1;
  band.minFreq = 100;
  const auto bandBytes = band.Encode();
  LfEpochTrigger lf;
  lf.highBin = 64;
  const auto lfBytes = lf.Encode();

  std::vector<std::uint8_t> good = Entry(bandBytes, 24);
  const auto second = Entry(lfBytes, 16);
  good.insert(good.end(), second.begin(), second.end());
  TriggerList list{};
  ASSERT_TRUE(ParseEpochList(2, good, list));
  EXPECT_TRUE(list[4].valid);
  EXPECT_EQ(list[4].Epoch(), band);
  EXPECT_TRUE(list[1].valid) << "an LF record goes to its entry's place";
  EXPECT_EQ(list[1].Lf(), lf);

  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<std::uint8_t> slot9(bandBytes.begin(), bandBytes.end());
  slot9[2] = 9;
  const std::vector<Case> hostile = {
      {"size past the end", Entry(bandBytes, 4000)},
      {"record cut short", Entry(std::span(bandBytes).first(10), 24)},
      {"half an entry header", {0x18}},
      {"band record shorter than 24", Entry(std::span(bandBytes).first(12), 12)},
      {"slot byte 6 or more", Entry(slot9, 24)},
  };
  for (const Case& c : hostile) {
    TriggerList l{};
    ASSERT_TRUE(ParseEpochList(3, c.bytes, l)) << c.what;
    for (const TriggerSlot& s : l) EXPECT_FALSE(s.valid) << c.what;
  }
}

TEST(EpochExchange, ClearThenOneAddPerValidSlotAndTheirStatusLines) {
  ScriptedOperator op;
  PanelModel panel{"unit"};
  std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> sent;
  std::vector<std::string> lines;
  HyloEpoch::Ports ports;
  ports.context = [] { return test::SetupUnit(kModelHf, "v2.1.6"); };
  ports.send = [&](std::uint8_t letter, std::span<const std::uint8_t> p) {
    sent.emplace_back(letter, std::vector<std::uint8_t>(p.begin(), p.end()));
    return 0;
  };
  ports.statusLine = [&](std::string_view l) { lines.emplace_back(l); };
  HyloEpoch epoch(op, panel, ports);
  EpochRows rows{};
  rows[1] = {.enabled = true, .minFreq = 10, .maxFreq = 20};
  rows[3] = {.enabled = true, .test = 1, .minFreq = 30, .maxFreq = 40};
  rows[4] = {.enabled = false, .minFreq = 50, .maxFreq = 60};
  epoch.SetRows(rows);

  ASSERT_EQ(epoch.SendEpochTriggers(), 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, 'U');
  epoch.OnEpochClearReply(0);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].first, 'S');
  EXPECT_EQ(sent[1].second.size(), 24u);
  EXPECT_EQ(sent[1].second[2], 1) << "slot byte = 0-based slot";
  EXPECT_EQ(sent[2].second[2], 3);
  epoch.OnEpochClearReply(0);  // a clear with no adds waiting
  epoch.OnEpochAddReply(0);
  EXPECT_EQ(lines, (std::vector<std::string>{"Epoch List Cleared"}));
  epoch.OnEpochAddReply(253);
  EXPECT_EQ(lines.back(), "Epoch setup failed");
  EXPECT_EQ(op.Notices().back(), "The maximum number of triggers have been reached.");
  epoch.OnEpochClearReply(1);
  EXPECT_EQ(op.Notices().back(), "Error: Epoch clear list failed");
  EXPECT_EQ(lines.back(), "Epoch clear list failed");

  // Both adds accepted: one line once the last is in.
  sent.clear();
  lines.clear();
  epoch.SendEpochTriggers();
  epoch.OnEpochClearReply(0);
  epoch.OnEpochAddReply(0);
  EXPECT_TRUE(lines.empty());
  epoch.OnEpochAddReply(0);
  EXPECT_EQ(lines, (std::vector<std::string>{"Epoch Triggers Added"}));
}

TEST(EpochChannelText, SplitTextsJoinAndOverlongOnesAreCut) {
  EpochTextSplitter splitter;
  std::vector<std::string> texts;
  auto post = [&](std::string_view t) {
    texts.emplace_back(t);
    return true;
  };
  const std::string a = "Epoch Trigger 1 fired";
  std::vector<std::uint8_t> block(a.begin(), a.end());
  block.push_back(0);
  block.insert(block.end(), {'s', 'p', 'l'});
  splitter.Feed(block, post);
  EXPECT_EQ(texts, (std::vector<std::string>{a}));
  const std::vector<std::uint8_t> rest{'i', 't', 0};
  splitter.Feed(rest, post);
  EXPECT_EQ(texts.back(), "split") << "the tail waited for its end";

  texts.clear();
  const std::vector<std::uint8_t> longText(EpochTextSplitter::kReadBytes + 10, 'x');
  splitter.Feed(longText, post);
  splitter.Feed(std::vector<std::uint8_t>{0}, post);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].size(), EpochTextSplitter::kReadBytes);
  EXPECT_EQ(texts[1].size(), 10u);
}
