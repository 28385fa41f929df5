// The instrument's epoch triggers against hylo-sim: applied from the tab, listed back, and
// the unit's own event texts on the epoch channel in the epoch window and the epoch log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/HyloLogging.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;
using namespace hylo::setup;

namespace {

EpochRows TwoTriggers() {
  EpochRows rows{};
  rows[0] = {.enabled = true,
             .test = 0,
             .duration = 1,
             .extend = 2,
             .minFreq = 500,
             .maxFreq = 1500,
             .threshold = -100,
             .logWave = false,
             .logFft = false,
             .preTrig = 3};
  rows[2] = {.enabled = true,
             .test = 1,
             .duration = 4,
             .extend = 5,
             .minFreq = 2000,
             .maxFreq = 3000,
             .threshold = 90,
             .logWave = false,
             .logFft = true,
             .preTrig = 0};
  return rows;
}

std::string ReadAll(const std::filesystem::path& folder) {
  std::string all;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(e.path());
    std::stringstream s;
    s << in.rdbuf();
    all += s.str();
  }
  return all;
}

}  // namespace

TEST(SimEpoch, TriggersAppliedFromTheTabAreListedBackUnchanged) {
  SimSession s({"--model", "hf", "--firmware", "v2.1.6"});
  ASSERT_TRUE(s.Connect());
  ASSERT_EQ(s.hylo.JobSetup().OpenUnitSetupPanel(), 0);
  const EpochRows rows = TwoTriggers();
  s.hylo.Epoch().SetRows(rows);
  s.hylo.JobSetup().MarkChanged(UnitTab::kEpoch);
  ASSERT_EQ(s.hylo.JobSetup().ApplySetupCallback(), 0);
  ASSERT_TRUE(WaitFor([&] { return s.Logged("Epoch Triggers Added"); }, 5000)) << "both adds answered";
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
  ASSERT_EQ(s.hylo.JobSetup().OpenUnitSetupPanel(), 0);
  s.hylo.Epoch().SetRows(TwoTriggers());
  s.hylo.JobSetup().MarkChanged(UnitTab::kEpoch);
  ASSERT_EQ(s.hylo.JobSetup().ApplySetupCallback(), 0);
  ASSERT_TRUE(WaitFor([&] { return s.Logged("Epoch Triggers Added"); }, 5000));

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
