// The instrument's epoch triggers against hylo-sim: applied from the tab, listed back, and
// the unit's own event texts on the epoch channel in the epoch window and the epoch log.
#include <gtest/gtest.h>

#include <filesystem>

#include "files/HyloLogging.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;
using namespace hylo::setup;

namespace {

EpochRows TwoTriggers() {
  EpochRows rows{};
  // enabled, test, duration, extend, min and max Hz, threshold, log wave, log FFT, pre-trigger
  rows[0] = {true, 0, 1, 2, 500, 1500, -100, false, false, 3};
  rows[2] = {true, 1, 4, 5, 2000, 3000, 90, false, true, 0};
  return rows;
}

// Applies `rows` from the tab and waits until the unit has answered every add.
void ApplyRows(SimSession& s, const EpochRows& rows) {
  ASSERT_EQ(s.hylo.JobSetup().OpenUnitSetupPanel(), 0);
  s.hylo.Epoch().SetRows(rows);
  s.hylo.JobSetup().MarkChanged(UnitTab::kEpoch);
  ASSERT_EQ(s.hylo.JobSetup().ApplySetupCallback(), 0);
  ASSERT_TRUE(WaitFor([&] { return s.Logged("Epoch Triggers Added"); }, 5000)) << "both adds answered";
}

// The epoch log folder's files, one after another.
std::string ReadAll(const std::filesystem::path& folder) {
  std::string all;
  for (const auto& e : std::filesystem::directory_iterator(folder)) all += ReadFile(e.path());
  return all;
}

}  // namespace

TEST(SimEpoch, TriggersAppliedFromTheTabAreListedBackUnchanged) {
  SimSession s({"--model", "hf", "--firmware", "v2.1.6"});
  ASSERT_TRUE(s.Connect());
  const EpochRows rows = TwoTriggers();
  ASSERT_NO_FATAL_FAILURE(ApplyRows(s, rows));
  const TriggerList sent = s.hylo.Epoch().List();

  s.hylo.Epoch().SetRows(EpochRows{});
  const auto before = s.hylo.UnitSetupPanel().Int(unitpanel::kEpochRevision);
  s.hylo.JobSetup().SendEpochEnquireCallback();
  ASSERT_TRUE(WaitFor([&] { return s.hylo.UnitSetupPanel().Int(unitpanel::kEpochRevision) != before; }, 5000));
  EXPECT_EQ(s.hylo.Epoch().Rows(), rows);
  const TriggerList listed = s.hylo.Epoch().List();
  for (std::size_t i : {0u, 2u}) {
    EXPECT_TRUE(listed[i].valid);
    auto expected = sent[i].record;
    expected[2] = static_cast<std::uint8_t>(i);  // the slot byte as sent
    EXPECT_EQ(listed[i].record, expected) << "slot " << i;
  }
  EXPECT_TRUE(s.op.Notices().empty()) << s.op.Notices().front();
}

TEST(SimEpoch, TheUnitsEventTextsReachTheEpochWindowAndTheEpochLog) {
  SimSession s({"--model", "hf", "--firmware", "v2.1.0", "--tone", "1000:-20"});
  ASSERT_TRUE(s.Connect());
  const std::filesystem::path folder = s.dir.Path() / "epochs";
  s.hylo.Data().Logging().SetEpochLog(true, 0, folder.string());
  ASSERT_NO_FATAL_FAILURE(ApplyRows(s, TwoTriggers()));

  s.hylo.Scan().StartScanningCallback();
  auto events = [&] { return s.hylo.Data().StatusPanel().Get(statuspanel::kEventText).items; };
  auto fired = [&] {
    for (const auto& t : events())
      if (t.starts_with("Epoch Trigger 1 fired")) return true;
    return false;
  };
  ASSERT_TRUE(WaitFor(fired, 15000));
  EXPECT_EQ(events().front(), "Connection Established\n");
  s.hylo.Scan().StopCallback();
  ASSERT_TRUE(WaitFor([&] { return ReadAll(folder).find("Epoch Trigger 1 fired") != std::string::npos; }, 5000));
  EXPECT_EQ(ReadAll(folder).rfind("Connection Established\n", 0), 0u) << "the log holds the texts as they came";
}
