#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "context/Hylo.h"
#include "core/Post.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;

using test::TestOptions;

TEST(HyloContext, SecondExitDoesNothing) {
  test::TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  int loopEnds = 0;
  hylo.SetEndEventLoop([&] { ++loopEnds; });
  EXPECT_EQ(hylo.MainExit(), 0);
  EXPECT_EQ(hylo.MainExit(), -1);
  EXPECT_EQ(loopEnds, 1);
  const auto lines = hylo.MainPanel().Get(mainpanel::kStatusField).items;
  const auto shutdowns = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.size() > 11 && line.substr(8) == " - Application Shutdown";
  });
  EXPECT_EQ(shutdowns, 1);
  EXPECT_FALSE(hylo.Threads().Started());
}

TEST(HyloContext, ExitWhileRecordsAreInFlightDropsThemAndReturnsEverything) {
  test::TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  HyloNodes& nodes = hylo.Nodes();
  for (int i = 0; i < 200; ++i) {
    Post(hylo.Threads(), i % kWorkerSlots, i % 2 ? MSG_WAVEFORM : MSG_SPECTRUM, [&](MessageNode& record) {
      if (record.type == MSG_WAVEFORM) WaveformSampleBuffer(record) = nodes.AcquireSampleBuffer();
    });
  }
  // MainExit returns only once every node is back in the pool.
  EXPECT_EQ(hylo.MainExit(), 0);
  EXPECT_EQ(nodes.TotalCount(), 0) << "the pool was destroyed after all nodes came back";
}

TEST(HyloContext, StatusLinesReachTheJobStatusFileWithOneHeader) {
  test::TempDir dir;
  for (int run = 0; run < 2; ++run) {
    ScriptedOperator op;
    Hylo hylo(op, TestOptions(dir));
    ASSERT_EQ(hylo.Start(), 0);
    hylo.Status().Append("Scanning Started");
    EXPECT_EQ(hylo.MainExit(), 0);
  }
  const auto lines = test::ReadLines(dir.Path() / "settings" / "JobStatusFile.txt");
  ASSERT_EQ(lines.size(), 5U) << "one header, then two lines per run";
  EXPECT_EQ(lines[0], "  Date   \tTime - Status\r");
  // date ⇥ HH:MM:SS - text
  const std::regex shape(
      R"(\d{1,2} [A-Z][a-z]{2}\.\d{4} \t\d{2}:\d{2}:\d{2} - (Scanning Started|Application Shutdown)\r)");
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
  EXPECT_NE(lines[4].find("Application Shutdown"), std::string::npos);
}
