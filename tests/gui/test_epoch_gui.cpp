// The epoch tab offscreen: the triggers a unit lists when the setup panel opens are shown
// in the tab's rows; the epoch window opens from the Panels menu.
#include <gtest/gtest.h>

#include <QApplication>

#include "EpochWindow.h"
#include "MainWindow.h"
#include "SetupPanel.h"
#include "context/HyloSession.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

TEST(EpochGui, TheTabShowsTheTriggersTheUnitLists) {
  const auto sim = test::StartSimOnFreePorts({"--model", "hf", "--firmware", "v2.1.6"}, 60);
  ASSERT_TRUE(sim.Ready()) << sim.Line();
  const int port = sim.port;
  test::GuiContext gui;
  Hylo& hylo = gui.Started();
  ASSERT_TRUE(HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", port}).Ok());
  // The unit holds one trigger before the panel opens.
  setup::EpochRows rows{};
  rows[1] = {.enabled = true,
             .test = 1,
             .duration = 3,
             .extend = 4,
             .minFreq = 700,
             .maxFreq = 900,
             .threshold = 80,
             .logWave = true,
             .preTrig = 2};
  hylo.Epoch().SetRows(rows);
  ASSERT_EQ(hylo.Epoch().SendEpochTriggers(), 0);
  hylo.Epoch().SetRows(setup::EpochRows{});

  app::MainWindow window(hylo);
  hylo.SetStopScanning([] {});
  QAction* open = test::MenuAction(window, "Instrument Setup");
  QAction* epochWindow = test::MenuAction(window, "Epoch Messages");
  ASSERT_TRUE(open && epochWindow);
  open->trigger();
  auto* panel = window.findChild<app::SetupPanel*>();
  ASSERT_NE(panel, nullptr);
  app::EpochTab* tab = panel->EpochTriggersTab();
  EXPECT_TRUE(panel->Tabs()->isTabVisible(panel->Tabs()->indexOf(tab)));
  const auto& row = tab->Rows()[1];
  test::PumpUntil([&] { return row.minFreq->value() == 700; });
  EXPECT_TRUE(row.enable->isChecked());
  EXPECT_EQ(row.test->currentIndex(), 1);
  EXPECT_EQ(row.minFreq->value(), 700);
  EXPECT_EQ(row.maxFreq->value(), 900);
  EXPECT_EQ(row.threshold->value(), 80);
  EXPECT_TRUE(row.logWave->isChecked());
  EXPECT_EQ(row.preTrig->value(), 2);
  EXPECT_FALSE(tab->Rows()[0].enable->isChecked());

  epochWindow->trigger();
  auto* events = window.findChild<app::EpochWindow*>();
  ASSERT_NE(events, nullptr);
  EXPECT_TRUE(events->isVisible());
}
