#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "processing/HyloProcFft.h"

using namespace hylo;

namespace {

struct Fft : ::testing::Test {
  HyloNodes nodes;
  HyloProcFft fft{nodes};
  std::vector<PyramidOutput> outputs;
  std::vector<SpectrumRecord> logged;
  int fftTransport = 1;
  bool logAccepts = true;
  void SetUp() override {
    ASSERT_EQ(nodes.CreateNodePool(), 0);
    HyloProcFft::Context c;
    c.fftTransport = [this] { return fftTransport; };
    c.postDisplay = [this](MessageNode* n) {
      outputs.push_back(n->As<PyramidOutput>());
      nodes.FreeNode(n);
      return 1;
    };
    c.postLog = [this](MessageNode* n) {
      if (!logAccepts) return 0;
      logged.push_back(n->As<SpectrumRecord>());
      nodes.FreeNode(n);
      return 1;
    };
    fft.SetContext(c);
  }
  void TearDown() override { EXPECT_EQ(nodes.FreeCount(), kNodeCount); }
  static SpectrumRecord Record(std::uint64_t index, std::uint8_t bin = 100) {
    SpectrumRecord r{};
    std::memset(r.bins, bin, sizeof r.bins);
    r.binCount = 512;
    r.sampleRate = 64000;
    r.fftLength = 1024;
    r.fftStep = 1024;
    r.accumulation = 4;
    r.recordSeconds = 0.064;
    r.recordIndex = index;
    r.firstSample = index * 4096;
    r.timeSeconds = 1000 + index * 0.064;
    r.rmsLevel = -40;
    return r;
  }
};

}  // namespace

TEST(CombineLevelsTable, ValuesByTheRule) {
  EXPECT_EQ(CombineStep(-255, 1), -6);
  EXPECT_EQ(CombineLevels(0, 7, 200), 200);
  // The four-record example: 100, 110, 100, 110 average to 100, 106, 104, 106.
  EXPECT_EQ(CombineLevels(1, 100, 110), 106);
  EXPECT_EQ(CombineLevels(2, 106, 100), 104);
  EXPECT_EQ(CombineLevels(3, 104, 110), 106);
  // A jump across the whole scale lands near the louder input, as amplitudes do.
  EXPECT_EQ(CombineLevels(1, 0, 255), 249);
}

TEST_F(Fft, FourRecordsMakeOneLevelOneOutputWithMeanAndMax) {
  const std::uint8_t bins[] = {100, 110, 100, 110};
  for (std::uint64_t i = 0; i < 4; ++i) {
    auto r = Record(i + 1, bins[i]);
    fft.ProcessRecord(r);
  }
  ASSERT_EQ(outputs.size(), 1U);
  EXPECT_EQ(outputs[0].level, 1);
  EXPECT_EQ(outputs[0].meanBins[0], 106);
  EXPECT_EQ(outputs[0].maxBins[0], 110);
  EXPECT_NEAR(outputs[0].rmsLevel, -40, 1e-9);
  EXPECT_EQ(logged.size(), 4U) << "every live record is copied for logging";
}

TEST_F(Fft, MissedRecordsFromIndexesAndFromTime) {
  std::vector<std::uint64_t> missed;
  for (std::uint64_t i : {10, 11, 14}) {
    auto r = Record(i);
    missed.push_back(fft.ProcessRecord(r));
  }
  EXPECT_EQ(missed, (std::vector<std::uint64_t>{0, 0, 2}));
  EXPECT_EQ(logged.back().missedRecords, 2U);

  HyloProcFft byTime(nodes);
  auto a = Record(5);
  a.recordSeconds = 0.25;
  a.timeSeconds = 100;
  EXPECT_EQ(byTime.ProcessRecord(a), 0U) << "the first record has nothing before it";
  auto b = a;
  b.timeSeconds = 100.25 + 0.5;
  EXPECT_EQ(byTime.ProcessRecord(b), 2U);
  auto c = a;
  c.timeSeconds = 100.0;  // before the previous record's end
  EXPECT_EQ(byTime.ProcessRecord(c), 13U);
}

TEST_F(Fft, ThePyramidReachesLevelSeven) {
  fftTransport = 0;                        // no logging copies for the long run
  const std::uint64_t total = 1ULL << 14;  // 4^7
  for (std::uint64_t i = 1; i <= total; ++i) {
    auto rec = Record(i);
    rec.weight = 2;
    fft.ProcessRecord(rec);
  }
  int level7 = 0, level1 = 0;
  for (const auto& o : outputs) {
    level7 += o.level == 7;
    level1 += o.level == 1;
    ASSERT_LE(o.level, 7) << "level 7 is never fed further";
  }
  EXPECT_EQ(level7, 1);
  EXPECT_EQ(level1, 4096);
  EXPECT_EQ(outputs.back().level, 7) << "the last record completes every level at once";
  EXPECT_EQ(outputs.back().missedGroups, 0U);
}

TEST_F(Fft, AWeightChangeAloneClearsThePyramid) {
  for (std::uint64_t i = 1; i <= 3; ++i) {
    auto r = Record(i, 200);
    fft.ProcessRecord(r);
  }
  auto changed = Record(4, 50);
  changed.weight = 3;
  fft.ProcessRecord(changed);
  EXPECT_EQ(changed.restart, 1);
  EXPECT_TRUE(outputs.empty()) << "the three earlier records were dropped with the old parameters";
  for (std::uint64_t i = 5; i <= 7; ++i) {
    auto r = Record(i, 50);
    r.weight = 3;
    fft.ProcessRecord(r);
    EXPECT_EQ(r.restart, 0);
  }
  ASSERT_EQ(outputs.size(), 1U);
  EXPECT_EQ(outputs[0].maxBins[0], 50) << "nothing of the 200-level records is left";
  EXPECT_EQ(outputs[0].meanBins[511], 50);
}

TEST_F(Fft, BacklogOfLostLoggingCopiesIsReportedWithTheNext) {
  // Exhaust the pool so the copy of record 3 cannot be made.
  auto r1 = Record(1);
  fft.ProcessRecord(r1);
  std::vector<MessageNode*> held;
  while (MessageNode* n = nodes.AllocNode(MSG_TEXT, 1)) held.push_back(n);
  auto r3 = Record(3);  // one missed
  fft.ProcessRecord(r3);
  for (auto* n : held) nodes.FreeNode(n);
  auto r4 = Record(4);
  fft.ProcessRecord(r4);
  ASSERT_EQ(logged.size(), 2U);
  EXPECT_EQ(logged[1].recordIndex, 4U);
  EXPECT_EQ(logged[1].missedRecords, 1U) << "the lost copy's missed count travels on";
}

TEST_F(Fft, StartsSecondAndClickScore) {
  auto r = Record(0);
  r.firstSample = 64000 * 3 + 100;  // 100 samples into a second, record spans 4096
  fft.ProcessRecord(r);
  EXPECT_EQ(r.startsSecond, 1);
  EXPECT_EQ(r.clickScoreValid, 0);
  auto late = Record(1);
  late.firstSample = 64000 * 3 + 5000;
  fft.ProcessRecord(late);
  EXPECT_EQ(late.startsSecond, 0);

  SpectrumRecord templ{};
  for (int i = 0; i < 512; ++i) templ.bins[i] = static_cast<std::uint8_t>(i % 2 ? 120 : 80);
  templ.sampleRate = 64000;
  fft.LoadTemplate(templ);
  EXPECT_TRUE(fft.ClickTemplateLoaded());
  auto match = Record(2);
  std::memcpy(match.bins, templ.bins, 512);
  fft.ProcessRecord(match);
  EXPECT_EQ(match.clickScoreValid, 1);
  EXPECT_NEAR(match.clickScore, 400.0, 1.0) << "a record like the template scores its variance";
}
