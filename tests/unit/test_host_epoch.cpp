// The host epoch list: rows to TriggerThread's records and the program's trigger file.
#include <gtest/gtest.h>

#include <fstream>

#include "config/HostEpoch.h"
#include "display/TriggerBands.h"
#include "processing/HostTriggers.h"
#include "shell/ScriptedOperator.h"
#include "support/TempDir.h"

namespace hylo {
namespace {

struct Fixture {
  test::TempDir dir;
  ScriptedOperator op;
  TriggerSettings settings;
  HostEpoch epoch{op, settings, dir.Path()};
  HostTriggers detector;  // what TriggerThread would hold
  int posts = 0;
  Fixture() {
    HostEpoch::Context c;
    c.postConfig = [this](std::span<const std::uint8_t> record) {
      ++posts;
      return detector.Configure(record) == 0;
    };
    epoch.SetContext(c);
  }
};

HostTriggerRows TwoRows() {
  HostTriggerRows rows{};
  rows[0] = {true, false, 2000, 1000, 100, 1, 5};  // edges given reversed are swapped
  rows[3] = {false, true, 10, 300, -20, 2, 0};
  return rows;
}

TEST(HostEpoch, ApplyPostsTheRowsAndKeepsThemInTheProgramFile) {
  Fixture f;
  ASSERT_EQ(f.epoch.Apply(TwoRows()), TriggerFileStatus::kOk);
  EXPECT_EQ(f.detector.Slot(0).type, kAboveThreshold);
  EXPECT_EQ(f.detector.Slot(0).band.minFreq, 1000u);
  EXPECT_EQ(f.detector.Slot(3).type, kEmptyTrigger);  // disabled rows are not sent
  EXPECT_EQ(f.posts, 2);                              // the clear-all and row 1

  Fixture g;
  std::filesystem::copy_file(f.epoch.ProgramFile(), g.epoch.ProgramFile());
  ASSERT_EQ(g.epoch.Load(g.epoch.ProgramFile()), TriggerFileStatus::kOk);
  HostTriggerRows expected = TwoRows();
  expected[0].minHz = 1000;
  expected[0].maxHz = 2000;
  EXPECT_EQ(g.epoch.Rows(), expected);
  EXPECT_EQ(g.detector.Slot(0).band, f.detector.Slot(0).band);
}

TEST(HostEpoch, AMalformedFileLeavesTheListAndTheDetectorAsTheyWere) {
  Fixture f;
  f.epoch.Apply(TwoRows());
  const auto bad = f.dir.Path() / "bad.cfg";
  std::ofstream(bad) << "not a trigger file\n";
  const int posts = f.posts;
  EXPECT_EQ(f.epoch.Load(bad), TriggerFileStatus::kNoTriggerLines);
  EXPECT_EQ(f.epoch.Load(f.dir.Path() / "missing.cfg"), TriggerFileStatus::kCannotOpen);
  EXPECT_EQ(f.posts, posts);
  EXPECT_TRUE(f.epoch.List()[0].valid);
  ASSERT_EQ(f.op.Notices().size(), 2u);
  EXPECT_EQ(f.op.Notices()[0], "Error: Invalid file selected");
}

TEST(HostEpoch, AClickTriggerThatCannotBePostedIsRecordedDisabled) {
  Fixture f;
  f.epoch.SetContext({});
  f.epoch.EnableCorrTrig(true);
  EXPECT_FALSE(f.settings.correlationActive);
  ASSERT_EQ(f.op.Notices().size(), 1u);
  EXPECT_EQ(f.op.Notices()[0], kCorrelationErrorText);
}

}  // namespace
}  // namespace hylo

namespace hylo {
namespace {

TEST(HostEpoch, TriggerBandsFollowTheThresholdInTheDisplayUnit) {
  const TriggerList list = RowsToList(TwoRows());  // row 1 enabled, row 4 disabled
  struct Case {
    int unit;
    double bottom, top;
  };
  for (const Case c : {Case{7, -60 - 171.0, 100 - 171.0}, Case{1, -60, 100}}) {
    const auto bands = TriggerBands(list, c.unit, -171, -60);
    ASSERT_EQ(bands.size(), 1u) << c.unit;
    EXPECT_EQ(bands[0], (TriggerBand{1000, 2000, c.bottom, c.top, 0xBBBBBB})) << c.unit;
  }
}

}  // namespace
}  // namespace hylo
